#include <gtest/gtest.h>

#include "SKUDefinition.h"

namespace
{

SKUDefinition readText(const char* xml)
{
    SKUDefinition definition;
    definition.parse(TqString(xml));
    return definition;
}

const char* const families = R"(<families>
    <family name="A"><plugins><plugin name="a"/></plugins></family>
    <family name="B"><plugins><plugin name="b"/></plugins></family>
    <family name="ContentsOnly"><contents><content name="c"/></contents></family>
    <family name="Unnamed"><plugins><plugin/></plugins></family>
  </families>)";

std::string product(const std::string& hostLists)
{
    return std::string("<product>") + families + hostLists + "</product>";
}

} // namespace

TEST(FamilyHostQueriesTest, KnowsOnlyFamiliesWithNamedPlugins)
{
    SKUDefinition model = readText(product(R"(<hosts><host name="Open"/></hosts>)").c_str());
    EXPECT_TRUE(model.familyHasHost(TqString("A"), TqString("Open")));
    EXPECT_TRUE(model.familyHasHost(TqString("B"), TqString("Open")));
    EXPECT_FALSE(model.familyHasHost(TqString("ContentsOnly"), TqString("Open")));
    EXPECT_FALSE(model.familyHasHost(TqString("Unnamed"), TqString("Open")));
    EXPECT_FALSE(model.familyHasHost(TqString("Missing"), TqString("Open")));
    EXPECT_FALSE(model.familyHasHost(TqString("A"), TqString("Elsewhere")));
    // Names match exactly, case included.
    EXPECT_FALSE(model.familyHasHost(TqString("a"), TqString("Open")));
    EXPECT_FALSE(model.familyHasHost(TqString("A"), TqString("open")));
    // Queries never add map entries.
    EXPECT_EQ(2u, model.familyPlugins.size());
    EXPECT_TRUE(model.hostFamilies.empty());

    SKUDefinition empty;
    EXPECT_FALSE(empty.familyHasHost(TqString("A"), TqString("Open")));
    EXPECT_FALSE(empty.familyHasHostBuild(TqString(), TqString()));
    EXPECT_FALSE(empty.getSKUInfo().name.IsSet());
    EXPECT_FALSE(empty.getSKUInfo().id.IsSet());
}

TEST(FamilyHostQueriesTest, HostsAreAskedForByVariant)
{
    SKUDefinition model = readText(product(R"(<hosts>
        <host name="Old" arch="x86"/>
        <host name="Both" arch="x86;x64"/>
        <host name="Arm" arch="arm"/>
        <host name="Only" families="A;ContentsOnly;Unknown"/>
      </hosts>)")
                                       .c_str());
    EXPECT_FALSE(model.familyHasHost(TqString("A"), TqString("Old")));
    EXPECT_TRUE(model.familyHasHost(TqString("A"), TqString("Old32")));
    EXPECT_TRUE(model.familyHasHost(TqString("B"), TqString("Both32")));
    EXPECT_TRUE(model.familyHasHost(TqString("B"), TqString("Both")));
    EXPECT_FALSE(model.familyHasHost(TqString("A"), TqString("Arm")));
    EXPECT_FALSE(model.familyHasHost(TqString("A"), TqString("Arm32")));
    // A restricted host accepts exactly the known families of its list.
    EXPECT_TRUE(model.familyHasHost(TqString("A"), TqString("Only")));
    EXPECT_FALSE(model.familyHasHost(TqString("B"), TqString("Only")));
    EXPECT_FALSE(model.familyHasHost(TqString("ContentsOnly"), TqString("Only")));
    EXPECT_FALSE(model.familyHasHost(TqString("Unknown"), TqString("Only")));
}

TEST(FamilyHostQueriesTest, BuildQueriesUseTheBuildListOrACopy)
{
    SKUDefinition copied = readText(product(R"(<hosts>
        <host name="Foo" arch="x86" families="B"/><host name="Bar"/></hosts>)")
                                        .c_str());
    const char* const familyNames[] = {"A", "B", "ContentsOnly"};
    const char* const hostNames[] = {"Foo", "Foo32", "Bar", "Bar32", "Baz"};
    for (const char* family : familyNames)
        for (const char* host : hostNames)
            EXPECT_EQ(copied.familyHasHost(TqString(family), TqString(host)),
                      copied.familyHasHostBuild(TqString(family), TqString(host)))
                << family << " " << host;
    EXPECT_TRUE(copied.familyHasHostBuild(TqString("B"), TqString("Foo32")));
    EXPECT_FALSE(copied.familyHasHostBuild(TqString("A"), TqString("Foo32")));

    SKUDefinition both = readText(product(R"(
        <hosts><host name="Foo" families="A"/></hosts>
        <hostsForBuild><host name="Builder"/><host name="Foo" families="B"/></hostsForBuild>)")
                                      .c_str());
    EXPECT_TRUE(both.familyHasHost(TqString("A"), TqString("Foo")));
    EXPECT_FALSE(both.familyHasHost(TqString("B"), TqString("Foo")));
    EXPECT_FALSE(both.familyHasHost(TqString("A"), TqString("Builder")));
    EXPECT_FALSE(both.familyHasHostBuild(TqString("A"), TqString("Foo")));
    EXPECT_TRUE(both.familyHasHostBuild(TqString("B"), TqString("Foo")));
    EXPECT_TRUE(both.familyHasHostBuild(TqString("A"), TqString("Builder")));

    // The rule itself, on lists handed in directly: a restriction list wins over the variants.
    std::map<TqString, std::vector<TqString>> restricted{{TqString("H"), {TqString("B")}},
                                                         {TqString("E"), {}}};
    std::vector<TqString> variants{TqString("E")};
    EXPECT_FALSE(both._familyHasHost(TqString("A"), TqString("H"), restricted, variants));
    EXPECT_TRUE(both._familyHasHost(TqString("B"), TqString("H"), restricted, variants));
    EXPECT_TRUE(both._familyHasHost(TqString("A"), TqString("E"), restricted, variants));
    EXPECT_FALSE(both._familyHasHost(TqString("A"), TqString("X"), restricted, variants));
    EXPECT_EQ(2u, restricted.size());
}
