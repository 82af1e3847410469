#include "Service/Meta/Translator.h"

#include <gtest/gtest.h>

namespace {

TEST(MetaTranslatorTest, CommonFields) {
    const TMetaTranslator meta(QStringLiteral(
        R"({"name":"Аркада","description":"Retro","version":"1.2.3","component":["dosbox"],"files":[]})"));
    EXPECT_EQ(meta.GetName(), "Аркада");
    EXPECT_EQ(meta.GetDescription(), "Retro");
    EXPECT_EQ(meta.GetVersion(), "1.2.3");
    EXPECT_EQ(meta.Raw["component"].ToJSON(), R"(["dosbox"])");
    EXPECT_TRUE(meta.Raw["dependencies"].IsNull());
}

TEST(MetaTranslatorTest, MissingOrBrokenGivesEmptyTexts) {
    const struct {
        const char* Json;
        const char* Name;
        const char* Version;
    } cases[] = {
        {R"({"name":"No version"})", "No version", ""},
        {R"({"name":null,"version":2})", "", "2"},
        {R"({"name":"Cut", "version":)", "Cut", ""},
        {"not json", "", ""},
        {"", "", ""},
        {"42", "", ""},
        {R"(["name","x"])", "", ""},
    };
    for (const auto& c : cases) {
        const TMetaTranslator meta(QString::fromUtf8(c.Json));
        EXPECT_EQ(meta.GetName(), c.Name) << c.Json;
        EXPECT_EQ(meta.GetVersion(), c.Version) << c.Json;
        EXPECT_EQ(meta.GetDescription(), "") << c.Json;
        // Kind-specific members read as null rather than raise.
        EXPECT_TRUE(meta.Raw["files"].IsNull()) << c.Json;
    }
}

} // namespace
