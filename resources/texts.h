// The updater's texts, UTF-8, held here and nowhere else: the string table
// and the texts of dialog template 134. Both the C++ compiler (the portable
// string table, app/string_table.cpp) and the resource compiler (the
// Windows string table and dialog, quillon.rc) read this file, so it holds
// preprocessor definitions only. A text keeps to one line: the resource
// compiler does not join literals the way C++ does.
#pragma once

// The texts of dialog template 134.
#define QUILLON_TEXT_APP_TITLE "ZK-Q870 Firmware Updater"
#define QUILLON_TEXT_UPDATE_BUTTON "ファームウェアアップデート"
#define QUILLON_TEXT_EXIT_BUTTON "終了"

// The string table (language 1041): QUILLON_STRING_TABLE(X) expands to
// X(id, text) for every entry, in ascending id order.
// clang-format off
#define QUILLON_STRING_TABLE(X) \
    X(111, "コンピューターとプリンターがUSB接続されていることを確認し、「再試行」を押してください。") \
    X(113, "ファームウェアを以下のバージョンにアップデートします。\n\nVer%s\n（現在のバージョン：Ver%s）") \
    X(114, "アップデートを中断しました。\nプリンターを再起動してから他の作業を行ってください。") \
    X(115, "アップデートするファームウェアが、現在のファームウェアと等しいか古いバージョンです。\nファームウェアを更新してよろしいですか？\n\n現在のバージョン：Ver%s\nアップデート後：Ver%s") \
    X(116, "ファームウェアのアップデートに失敗しました。\nプリンターを再起動してから、再度実行してください。") \
    X(117, "ファームウェアのアップデートが完了しました。") \
    X(118, "予期せぬエラーが発生しました。\nコンピューターとプリンターを再起動した後、アップデートをやり直してください。\nそれでも同じエラーが発生する場合は、下記エラーコードを控えて\nホームページにある『製品に関するお問い合わせ/IDカードプリンターの修理に関するお問い合わせ』からお問い合わせください。\n\n内部エラー：%02x-%08x") \
    X(119, "ファームウェアのアップデートを実行中です。\n電源を切ったり、USBケーブルを抜いたりしないでください。") \
    X(121, "確認") \
    X(122, "エラー") \
    X(125, "ファームウェアのアップデート") \
    X(126, QUILLON_TEXT_APP_TITLE) \
    X(127, "プリンター固有のデータ（ST）は、次のファイルに保存されています。\nこのファイルを削除せず、サービス担当者にお知らせください。\n\n%s")
// clang-format on
