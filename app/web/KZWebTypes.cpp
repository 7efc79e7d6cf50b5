#include "app/web/KZWebTypes.h"

std::string KZWebWindowTypeText(int type) {
    switch (type) {
        case KZWebWindowTypeExplain: return "explain";
        case KZWebWindowTypeTranslate: return "translate";
        case KZWebWindowTypeSearch: return "search";
        default: return {};
    }
}

std::string KZWebPanelWindowTypeText(int type) {
    return type == KZWebWindowTypeSearch ? std::string() : KZWebWindowTypeText(type);
}
