#include "RemovalJson.h"

#include <nlohmann/json.hpp>

#include "Utf8Sequence.h"

namespace
{

using Json = nlohmann::ordered_json;

std::string base64(const std::string& bytes)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t index = 0; index < bytes.size(); index += 3)
    {
        const size_t left = bytes.size() - index;
        unsigned long group = static_cast<unsigned char>(bytes[index]) << 16;
        if (left > 1)
            group |= static_cast<unsigned long>(static_cast<unsigned char>(bytes[index + 1])) << 8;
        if (left > 2)
            group |= static_cast<unsigned char>(bytes[index + 2]);
        text += digits[(group >> 18) & 63];
        text += digits[(group >> 12) & 63];
        text += left > 1 ? digits[(group >> 6) & 63] : '=';
        text += left > 2 ? digits[group & 63] : '=';
    }
    return text;
}

bool isUtf8(const std::string& bytes)
{
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
    unsigned long codePoint = 0;
    for (size_t index = 0; index < bytes.size();)
    {
        const unsigned long length = Utf8SequenceLength(data + index, bytes.size() - index, codePoint);
        if (length == 0)
            return false;
        index += length;
    }
    return true;
}

// Puts text in object[name], and its bytes in object[name + "_base64"] when it is not UTF-8.
void putText(Json& object, const std::string& name, const TqString& text)
{
    const std::string bytes(text.ConstData(), text.Size());
    object[name] = bytes;
    if (!isUtf8(bytes))
        object[name + "_base64"] = base64(bytes);
}

// One line of JSON; a byte that is not UTF-8 is written U+FFFD (its field's "_base64" keeps it).
std::string dumped(const Json& object)
{
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace

std::string RemovalJson::EntryObject(RemovalLineKind kind, const TqString& path, const TqString& reason)
{
    Json object;
    object["kind"] = RemovalLineWord(kind);
    putText(object, "path", path);
    if (reason.IsSet())
        putText(object, "reason", reason);
    return dumped(object);
}

namespace
{

// The fields every answer starts with: the layout's version, the product and the target.
Json answerOf(const RemovalJson::Closing& closing)
{
    Json object;
    object["schema"] = RemovalJson::schemaVersion;
    Json product = Json::object();
    putText(product, "name", closing.productName);
    putText(product, "id", closing.productId);
    putText(product, "build", closing.productBuild);
    object["product"] = product;
    putText(object, "target", closing.target);
    return object;
}

} // namespace

std::string RemovalJson::CheckObject(const Closing& closing, const char* answer, unsigned long present,
                                     unsigned long listed)
{
    Json object = answerOf(closing);
    object["check"] = answer;
    object["present"] = present;
    object["listed"] = listed;
    object["status"] = closing.status;
    return dumped(object);
}

std::string RemovalJson::ClosingObject(const Closing& closing)
{
    Json object = answerOf(closing);
    object["dry_run"] = closing.dryRun;
    if (closing.hasSummary)
    {
        const RemovalCounts& counts = closing.counts;
        Json summary;
        summary[closing.dryRun ? "would_be_removed" : "removed"] = counts.removed;
        summary["kept"] = counts.kept;
        summary["missing"] = counts.missing;
        if (closing.dryRun)
            summary["would_fail"] = counts.wouldFail;
        summary["failed"] = counts.failed;
        summary["ignored"] = counts.ignored;
        object["summary"] = summary;
    }
    object["changed"] = closing.hasSummary && !closing.dryRun && closing.counts.removed > 0;
    if (!closing.outcome.empty())
        object["outcome"] = closing.outcome;
    object["status"] = closing.status;
    // The tool's messages are escaped lines already.
    object["messages"] = closing.messages;
    return dumped(object);
}

bool RemovalJson::IsClosingObject(const std::string& line)
{
    const Json object = Json::parse(line, nullptr, false);
    return object.is_object() && object.contains("schema");
}
