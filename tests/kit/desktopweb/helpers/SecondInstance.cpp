// The download service of a second instance started over the same download folder: it cleans up
// as every instance does when it starts, then ends. Arguments: the user's folder and the
// application's own folders inside it.

#include <cstdio>

#include "kit/desktop/web/WebKitDownloadService.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <user folder> <own folders>\n", argv[0]);
        return 2;
    }
    kit::desktop::WebKitDownloadService service(kit::FolderChain{argv[1], argv[2]});
    return 0;
}
