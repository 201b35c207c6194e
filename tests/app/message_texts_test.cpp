// The string table against the texts of the message table, copied by hand.
#include <gtest/gtest.h>

#include <string>

#include "app/string_table.h"
#include "tests/app/expected_texts.h"

namespace apptest {
namespace {

TEST(MessageTexts, EveryStringIsTheMessageTablesText) {
    for (const ExpectedText& t : kExpectedTexts) {
        SCOPED_TRACE(t.id);
        EXPECT_EQ(LoadStringText(t.id), t.text);
    }
}

TEST(MessageTexts, PlaceholdersTakeTheirArguments) {
    EXPECT_EQ(FormatStringText(kIdsUpdateTarget, "1.3", "1.2"),
              "ファームウェアを以下のバージョンにアップデートします。\n\nVer1.3\n（現在のバージョン：Ver1.2）");
    EXPECT_EQ(FormatStringText(kIdsConfirmOlder, "1.3", "1.3"),
              "アップデートするファームウェアが、現在のファームウェアと等しいか古いバージョンです。\n"
              "ファームウェアを更新してよろしいですか？\n\n現在のバージョン：Ver1.3\nアップデート後：Ver1.3");
    const std::string code = FormatStringText(kIdsInternalError, 0x71u, 2u);
    EXPECT_EQ(code.substr(code.rfind("：") + std::string("：").size()), "71-00000002");
    EXPECT_EQ(code, ExpectedInternalError(0x71, 2));
    const std::string negative = FormatStringText(kIdsInternalError, 0x22u, 0xFFFFFFFEu);
    EXPECT_EQ(negative.substr(negative.size() - 11), "22-fffffffe");
}

}  // namespace
}  // namespace apptest
