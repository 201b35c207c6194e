#include "app/string_table.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

struct StringEntry {
    unsigned id;
    const char* text;
};

constexpr StringEntry kStrings[] = {
    {kIdsConnectRetry,
     "コンピューターとプリンターがUSB接続されていることを確認し、「再試行」を押してください。"},
    {kIdsUpdateTarget,
     "ファームウェアを以下のバージョンにアップデートします。\n\nVer%s\n（現在のバージョン：Ver%"
     "s）"},
    {kIdsUpdateAborted,
     "アップデートを中断しました。\nプリンターを再起動してから他の作業を行ってください。"},
    {kIdsConfirmOlder,
     "アップデートするファームウェアが、現在のファームウェアと等しいか古いバージョンです。\n"
     "ファームウェアを更新してよろしいですか？\n\n現在のバージョン：Ver%s\nアップデート後：Ver%s"},
    {kIdsUpdateFailed,
     "ファームウェアのアップデートに失敗しました。\nプリンターを再起動してから、再度実行してくださ"
     "い。"},
    {kIdsUpdateDone, "ファームウェアのアップデートが完了しました。"},
    {kIdsInternalError,
     "予期せぬエラーが発生しました。\n"
     "コンピューターとプリンターを再起動した後、アップデートをやり直してください。\n"
     "それでも同じエラーが発生する場合は、下記エラーコードを控えて\n"
     "ホームページにある『製品に関するお問い合わせ/IDカードプリンターの修理に関するお問い合わせ』"
     "からお問い合わせください。\n\n内部エラー：%02x-%08x"},
    {kIdsUpdating,
     "ファームウェアのアップデートを実行中です。\n電源を切ったり、USBケーブルを抜いたりしないでくだ"
     "さい。"},
    {kIdsCaptionConfirm, "確認"},
    {kIdsCaptionError, "エラー"},
    {kIdsFirmwareUpdate, "ファームウェアのアップデート"},
    {kIdsAppTitle, "ZK-Q870 Firmware Updater"},
    {kIdsStArchived,
     "プリンター固有のデータ（ST）は、次のファイルに保存されています。\n"
     "このファイルを削除せず、サービス担当者にお知らせください。\n\n%s"},
};

}  // namespace

std::string LoadStringText(unsigned id) {
    for (const StringEntry& e : kStrings)
        if (e.id == id) return e.text;
    return std::string();
}

std::string FormatStringText(unsigned id, ...) {
    const std::string format = LoadStringText(id);
    va_list args;
    va_start(args, id);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format.c_str(), args);
    va_end(args);
    std::string out;
    if (n > 0) {
        std::vector<char> buffer(static_cast<size_t>(n) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format.c_str(), again);
        out.assign(buffer.data(), static_cast<size_t>(n));
    }
    va_end(again);
    return out;
}
