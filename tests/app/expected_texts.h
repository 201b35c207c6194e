// The texts the user must see, copied here by hand from the message table
// rather than taken from the updater's own string table, so that a wrong
// character in that table fails the tests.
#pragma once

#include <cstdio>
#include <string>

namespace apptest {

struct ExpectedText {
    unsigned id;
    const char* text;
};

inline const ExpectedText kExpectedTexts[] = {
    {111, "コンピューターとプリンターがUSB接続されていることを確認し、「再試行」を押してください。"},
    {113, "ファームウェアを以下のバージョンにアップデートします。\n\nVer%s\n（現在のバージョン：Ver%s）"},
    {114, "アップデートを中断しました。\nプリンターを再起動してから他の作業を行ってください。"},
    {115, "アップデートするファームウェアが、現在のファームウェアと等しいか古いバージョンです。\n"
          "ファームウェアを更新してよろしいですか？\n\n現在のバージョン：Ver%s\nアップデート後：Ver%s"},
    {116, "ファームウェアのアップデートに失敗しました。\nプリンターを再起動してから、再度実行してください。"},
    {117, "ファームウェアのアップデートが完了しました。"},
    {118, "予期せぬエラーが発生しました。\nコンピューターとプリンターを再起動した後、アップデートをやり直してください。\n"
          "それでも同じエラーが発生する場合は、下記エラーコードを控えて\n"
          "ホームページにある『製品に関するお問い合わせ/IDカードプリンターの修理に関するお問い合わせ』"
          "からお問い合わせください。\n\n内部エラー：%02x-%08x"},
    {119, "ファームウェアのアップデートを実行中です。\n電源を切ったり、USBケーブルを抜いたりしないでください。"},
    {121, "確認"},
    {122, "エラー"},
    {125, "ファームウェアのアップデート"},
    {126, "ZK-Q870 Firmware Updater"},
};

// The expected text of a message without placeholders.
inline std::string ExpectedBoxText(unsigned id) {
    for (const ExpectedText& t : kExpectedTexts)
        if (t.id == id) return t.text;
    return "(no expected text for " + std::to_string(id) + ")";
}

// Message 118 with its internal-error code.
inline std::string ExpectedInternalError(unsigned category, unsigned detail) {
    char code[32];
    std::snprintf(code, sizeof code, "%02x-%08x", category, detail);
    std::string text = ExpectedBoxText(118);
    return text.substr(0, text.size() - std::string("%02x-%08x").size()) + code;
}

}  // namespace apptest
