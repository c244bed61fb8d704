#ifndef TQ_TEST_MODELTEXTS_H
#define TQ_TEST_MODELTEXTS_H

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SKUDefinition.h"
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

// Every field as a freshly constructed model holds it.
inline void expectEmptyModel(const SKUDefinition& model, const std::string& what = std::string())
{
    SCOPED_TRACE(what);
    EXPECT_FALSE(model.skuInfo.id.IsSet());
    EXPECT_FALSE(model.skuInfo.name.IsSet());
    EXPECT_FALSE(model.skuInfo.build.IsSet());
    EXPECT_FALSE(model.skuInfo.prefix.IsSet());
    EXPECT_TRUE(model.familyPlugins.empty());
    EXPECT_TRUE(model.familyContents.empty());
    EXPECT_TRUE(model.familyContentMasks.empty());
    EXPECT_TRUE(model.hostFamilies.empty());
    EXPECT_TRUE(model.hostNames.empty());
    EXPECT_TRUE(model.hostVariants.empty());
    EXPECT_TRUE(model.hostCompilerOptions.empty());
    EXPECT_TRUE(model.buildHostFamilies.empty());
    EXPECT_TRUE(model.buildHostNames.empty());
    EXPECT_TRUE(model.buildHostVariants.empty());
    EXPECT_FALSE(model.installRoot.name.IsSet());
    EXPECT_FALSE(model.installRoot.isDirectory);
    EXPECT_TRUE(model.installRoot.children.empty());
    EXPECT_EQ(0, model.installRoot.isX86);
    EXPECT_TRUE(model.familyFeatureMasks.empty());
    EXPECT_FALSE(model.installLinkUrl.IsSet());
    EXPECT_FALSE(model.internetOffUrl.IsSet());
    EXPECT_FALSE(model.internetOnUrl.IsSet());
}

#endif
