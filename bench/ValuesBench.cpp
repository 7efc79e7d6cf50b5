// Reads a settings-sized property list through parsePropertyList and through libplist alone, and
// writes the same data as JSON through toJson and through nlohmann::json; prints the ratios.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include <nlohmann/json.hpp>
#include <plist/plist.h>

#include "bench/MedianRatios.h"
#include "kit/base/Json.h"
#include "kit/base/PropertyList.h"

namespace {

kit::Value settings() {
    using kit::Array;
    using kit::Dictionary;
    using kit::Value;
    auto cookie = [](const char* name, const char* value) {
        return Value(Dictionary{{"Name", Value(name)}, {"Value", Value(value)}, {"Domain", Value(".example.com")},
                                {"Path", Value("/")}});
    };
    return Value(Dictionary{
        {"kQuarn_AI_QA_WIDNDOW_PIN_STATE", Value(false)},
        {"kQuarn_AI_UD_Accessiblity_Permission", Value(true)},
        {"kQuarn_AI_UD_AuthUserInfo", Value(Dictionary{{"state", Value(1)}, {"avatar", Value("")}, {"userName", Value("")}})},
        {"kQuarn_AI_UD_GuideWindow_HasChoosedShowAIBar", Value(2)},
        {"kQuarn_AI_UD_HasShowGuideWindow", Value(true)},
        {"kQuarn_AI_UD_PowerBootShowAILogo", Value(true)},
        {"kQuarn_AI_UD_ShowStatusBarItem", Value(false)},
        {"kQuarn_AI_UD_StatusBarHiddenOnLiquidScreenAlertShow", Value(false)},
        {"kQuarn_AI_UD_UseSelectTextTool", Value(true)},
        {"kQuarn_AI_FILE_DRAG_STATE", Value(true)},
        {"kQuarn_AI_UD_Cookies", Value(Array{cookie("session", "a1b2c3d4e5"), cookie("lang", "zh-CN"),
                                             cookie("theme", "dark")})},
    });
}

nlohmann::ordered_json toNlohmann(const kit::Value& value) {
    switch (value.type()) {
        case kit::ValueType::Bool: return *value.asBool();
        case kit::ValueType::Integer: return *value.asInteger();
        case kit::ValueType::String: return *value.asString();
        case kit::ValueType::Array: {
            auto array = nlohmann::ordered_json::array();
            for (const auto& item : *value.asArray()) array.push_back(toNlohmann(item));
            return array;
        }
        case kit::ValueType::Dictionary: {
            auto object = nlohmann::ordered_json::object();
            for (const auto& [key, item] : *value.asDictionary()) object[key] = toNlohmann(item);
            return object;
        }
        default: return nullptr;
    }
}

const std::string& settingsXml() {
    static const std::string xml = *kit::propertyListXml(settings());
    return xml;
}

void PlistParseValue(benchmark::State& state) {
    const std::string& xml = settingsXml();
    for (auto _ : state) {
        auto parsed = kit::parsePropertyList(xml);
        benchmark::DoNotOptimize(parsed);
    }
}
BENCHMARK(PlistParseValue)->Repetitions(9)->DisplayAggregatesOnly(true);

void PlistParseLibplist(benchmark::State& state) {
    const std::string& xml = settingsXml();
    for (auto _ : state) {
        plist_t node = nullptr;
        plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &node);
        benchmark::DoNotOptimize(node);
        plist_free(node);
    }
}
BENCHMARK(PlistParseLibplist)->Repetitions(9)->DisplayAggregatesOnly(true);

void JsonDumpValue(benchmark::State& state) {
    const kit::Value value = settings();
    for (auto _ : state) {
        std::string text = kit::toJson(value);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(JsonDumpValue)->Repetitions(9)->DisplayAggregatesOnly(true);

void JsonDumpNlohmann(benchmark::State& state) {
    const nlohmann::ordered_json json = toNlohmann(settings());
    for (auto _ : state) {
        std::string text = json.dump();
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(JsonDumpNlohmann)->Repetitions(9)->DisplayAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    return bench::runAndPrintRatios(argc, argv, {{"value/libplist", "PlistParseValue", "PlistParseLibplist"},
                                    {"toJson/nlohmann", "JsonDumpValue", "JsonDumpNlohmann"}});
}
