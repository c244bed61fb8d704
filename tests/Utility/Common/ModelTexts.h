#ifndef TQ_TEST_MODELTEXTS_H
#define TQ_TEST_MODELTEXTS_H

#include <map>
#include <string>
#include <vector>

#include "TqString.h"

// Plain std::string views of the model's containers, so expectations read as literals.
inline std::string text(const TqString& value)
{
    return std::string(value.ConstData(), value.Size());
}

inline std::vector<std::string> texts(const std::vector<TqString>& values)
{
    std::vector<std::string> result;
    for (const TqString& value : values)
        result.push_back(text(value));
    return result;
}

template <typename Value> std::vector<std::string> keys(const std::map<TqString, Value>& map)
{
    std::vector<std::string> result;
    for (const auto& entry : map)
        result.push_back(text(entry.first));
    return result;
}

inline std::map<std::string, std::vector<std::string>>
textMap(const std::map<TqString, std::vector<TqString>>& map)
{
    std::map<std::string, std::vector<std::string>> result;
    for (const auto& entry : map)
        result[text(entry.first)] = texts(entry.second);
    return result;
}

inline std::map<std::string, std::string> textMap(const std::map<TqString, TqString>& map)
{
    std::map<std::string, std::string> result;
    for (const auto& entry : map)
        result[text(entry.first)] = text(entry.second);
    return result;
}

#endif
