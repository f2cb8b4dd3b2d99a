// JsonSource.cpp: strict parsing through jsoncpp, and byte offsets turned into lines and columns.
#include "music/set/JsonSource.h"

#include <json/reader.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace oggmix::music {
namespace {

// Deep enough for any set, shallow enough that hostile nesting cannot exhaust the stack.
constexpr int kNestingLimit = 32;
// jsoncpp throws beyond its own limit; the text is measured first, so that it never gets there.
constexpr int kParserStackLimit = 2 * kNestingLimit;

// The offset of the first bracket nested deeper than kNestingLimit, strings and comments
// skipped, or none.
std::optional<std::size_t> TooDeep(std::string_view text) {
    int depth = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::string_view rest = text.substr(i);
        if (rest.starts_with('"')) {
            for (++i; i < text.size() && text[i] != '"'; ++i)
                if (text[i] == '\\') ++i;
        } else if (rest.starts_with("//")) {
            i = std::min(text.size(), text.find('\n', i));
        } else if (rest.starts_with("/*")) {
            const std::size_t end = text.find("*/", i + 2);
            i = end == std::string_view::npos ? text.size() : end + 1;
        } else if (rest.starts_with('[') || rest.starts_with('{')) {
            if (++depth > kNestingLimit) return i;
        } else if (rest.starts_with(']') || rest.starts_with('}')) {
            --depth;
        }
    }
    return std::nullopt;
}

// jsoncpp reports its first error as "* Line L, Column C\n  message\n".
struct ReportedError {
    std::size_t Line = 1;
    std::size_t Column = 1;
    std::string Message;
};

ReportedError FirstError(const std::string& report) {
    ReportedError error;
    if (std::sscanf(report.c_str(), "* Line %zu, Column %zu", &error.Line, &error.Column) != 2)
        return {1, 1, report};
    const std::size_t start = report.find_first_not_of(" \n", report.find('\n'));
    if (start != std::string::npos)
        error.Message = report.substr(start, report.find('\n', start) - start);
    return error;
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

JsonSource::JsonSource(std::string_view Text, std::string Name)
    : FText(Text), FName(std::move(Name)) {
    FLineStarts.push_back(0);
    for (std::size_t i = 0; i < FText.size(); ++i)
        if (FText[i] == '\n') FLineStarts.push_back(i + 1);
}

std::optional<Json::Value> JsonSource::Parse() {
    if (const std::optional<std::size_t> bracket = TooDeep(FText)) {
        FParseError = WhereOffset(static_cast<std::ptrdiff_t>(*bracket)) + ": nested more than " +
                      std::to_string(kNestingLimit) + " levels deep";
        return std::nullopt;
    }
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    // A composer's notes: jsoncpp's strict mode passes comments between members but not
    // elsewhere, so they are taken everywhere, and dropped.
    builder["allowComments"] = true;
    builder["collectComments"] = false;
    builder["stackLimit"] = kParserStackLimit;
    builder["skipBom"] = true;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string report;
    if (reader->parse(FText.data(), FText.data() + FText.size(), &root, &report)) {
        FParseError.clear();
        return root;
    }
    // jsoncpp's columns count bytes; say where in characters, as everywhere else.
    const ReportedError error = FirstError(report);
    const std::size_t line = std::clamp<std::size_t>(error.Line, 1, FLineStarts.size());
    const std::size_t offset =
        std::min(FText.size(), FLineStarts[line - 1] + (error.Column > 0 ? error.Column - 1 : 0));
    FParseError = WhereOffset(static_cast<std::ptrdiff_t>(offset)) + ": " + error.Message;
    return std::nullopt;
}

std::string JsonSource::Where(const Json::Value& Value) const {
    return WhereOffset(Value.getOffsetStart());
}

std::string JsonSource::WhereOffset(std::ptrdiff_t Offset) const {
    const std::size_t offset =
        std::min(static_cast<std::size_t>(std::max<std::ptrdiff_t>(Offset, 0)), FText.size());
    const auto next = std::upper_bound(FLineStarts.begin(), FLineStarts.end(), offset);
    const std::size_t lineStart = *std::prev(next);
    const std::size_t column = 1 + static_cast<std::size_t>(std::count_if(
                                       FText.begin() + static_cast<std::ptrdiff_t>(lineStart),
                                       FText.begin() + static_cast<std::ptrdiff_t>(offset),
                                       [](char c) { return !IsContinuationByte(c); }));
    std::ostringstream where;
    where << FName << ':' << (next - FLineStarts.begin()) << ':' << column;
    return where.str();
}

std::ptrdiff_t JsonSource::KeyOffset(const Json::Value& Member, const std::string& Key) const {
    const std::ptrdiff_t value = Member.getOffsetStart();
    // Back over `"key" : ` from the value.
    std::ptrdiff_t at = value;
    const auto skipBlanks = [&] {
        while (at > 0 && std::string_view(" \t\r\n").find(
                             FText[static_cast<std::size_t>(at - 1)]) != std::string_view::npos)
            --at;
    };
    skipBlanks();
    if (at == 0 || FText[static_cast<std::size_t>(--at)] != ':') return value;
    skipBlanks();
    const std::string quoted = "\"" + Key + "\"";
    const auto start = at - static_cast<std::ptrdiff_t>(quoted.size());
    if (start < 0 || FText.compare(static_cast<std::size_t>(start), quoted.size(), quoted) != 0)
        return value;
    return start;
}

std::vector<std::string> JsonSource::KeysInOrder(const Json::Value& Object) {
    std::vector<std::string> keys = Object.getMemberNames();
    std::stable_sort(keys.begin(), keys.end(), [&](const std::string& a, const std::string& b) {
        return Object[a].getOffsetStart() < Object[b].getOffsetStart();
    });
    return keys;
}

}  // namespace oggmix::music
