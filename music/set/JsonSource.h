#pragma once
// JsonSource.h: a JSON text read strictly (one root value, no trailing commas, no duplicate
// keys, nothing after the root; comments // and /* */ are allowed), with the line and column
// of every value, so that a message can point at the value it is about.
// Threads: any. Memory: allocates. Units: lines and columns from 1; a column counts
// characters (UTF-8 code points), not bytes.

#include <json/value.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oggmix::music {

class JsonSource {
public:
    // Name starts every place: "set.json:3:14".
    JsonSource(std::string_view Text, std::string Name);

    // The root value; none when the text is not JSON, and then ParseError says why and where.
    [[nodiscard]] std::optional<Json::Value> Parse();
    [[nodiscard]] const std::string& ParseError() const noexcept { return FParseError; }

    // "NAME:LINE:COLUMN" of the first character of Value (a value of the last Parse).
    [[nodiscard]] std::string Where(const Json::Value& Value) const;
    // The same for a byte offset into the text.
    [[nodiscard]] std::string WhereOffset(std::ptrdiff_t Offset) const;

    // Where the key of an object's member begins (the member's value when the key is written
    // with escapes).
    [[nodiscard]] std::ptrdiff_t KeyOffset(const Json::Value& Member, const std::string& Key) const;

    // An object's keys in the order of the text (jsoncpp keeps them sorted by name).
    [[nodiscard]] static std::vector<std::string> KeysInOrder(const Json::Value& Object);

private:
    std::string FText;
    std::string FName;
    std::vector<std::size_t> FLineStarts;  // byte offset of each line's first character
    std::string FParseError;
};

}  // namespace oggmix::music
