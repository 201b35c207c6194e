// The command descriptor table: every command of the printer's FS family
// with its title, handler, parameter labels and default texts.
#include <cstring>

#include "link/printer_io.h"

namespace {

struct RowText {
    int row;
    const char* title;
    CommandHandler handler;
};

struct SlotText {
    int row;
    int slot;
    const char* label;
    const char* defaultText;
};

const RowText kRows[] = {
    {0, "FS S [エラー情報要求]", &CPrinterIO::CmdRequestSence},
    {1, "FS I [製品情報要求]", &CPrinterIO::CmdInquiry},
    {2, "FS A [印刷中止]", &CPrinterIO::CmdStop},
    {3, "FS Y [システム情報要求]", &CPrinterIO::CmdSystemInfo},
    {4, "FS T [プリンタ状況要求]", &CPrinterIO::CmdStatusInfo},
    {5, "FS G [各種データ要求]", &CPrinterIO::CmdGetPrinterData},
    {6, "FS V [動作ログ要求]", &CPrinterIO::CmdGetPrinterLog},
    {7, "FS = [印刷予約]", &CPrinterIO::CmdPrintReserve},
    {8, "FS H [ネットワーク設定開始]", &CPrinterIO::CmdLanConfig},
    {9, "FS J [ネットワーク設定取得]", &CPrinterIO::CmdLanConfigGet},
    {10, "FS H [ネットワーク設定変更]", &CPrinterIO::CmdLanConfigSet},
    {11, "FS * [ネットワーク機器検索]", &CPrinterIO::CmdSearchPrinter},
    {12, "FS P ESC @ [プリンタリセット]", &CPrinterIO::CmdReset},
    {13, "FS P ESC > [印刷開始]", &CPrinterIO::CmdPrint},
    {14, "FS P ESC N [印刷枚数設定]", &CPrinterIO::CmdCopy},
    {15, "FS P ESC I [画像データ転送]", &CPrinterIO::CmdImage},
    {16, "FS P ESC C [文字データ転送]", &CPrinterIO::CmdChar},
    {17, "FS P ESC H [ホログラム転写]", &CPrinterIO::CmdHologram},
    {18, "FS P ESC M [エンコードデータ転送]", &CPrinterIO::CmdEncodeData},
    {19, "FS P ESC T [反転要求]", &CPrinterIO::CmdReverse},
    {20, "FS P ESC E [ICエンコーダ動作]", &CPrinterIO::CmdNotSupported},
    {21, "FS P ESC A [磁気エンコード読み込み]", &CPrinterIO::CmdNotSupported},
    {22, "FS P ESC Z [メカエラー復帰]", &CPrinterIO::CmdNotSupported},
    {23, "FS P ESC P [非転写領域設定]", &CPrinterIO::CmdNotSupported},
    {24, "FS P ESC Q [タグデータ設定]", &CPrinterIO::CmdNotSupported},
    {25, "FS P ESC J [DMA転送2]", &CPrinterIO::CmdDma2},
};

const SlotText kSlots[] = {

    {0, 0, "要求データ長 (0～22)", "22"},
    {1, 0, "要求データ長 (0～36)", "36"},
    {3, 0, "要求データ長 (0～51)", "51"},
    {4, 0, "要求データ長 (0～60)", "60"},
    {5, 0, "要求データ長 (0～)", "0"},
    {6, 0, "要求データ長 (0～3145728)", "3145728"},
    {6, 1, "応答データ先頭アドレス", "0x..."},
    {6, 2, "応答データ長", "0"},
    {7, 0, "0：状況確認、[1]：予約、2：予約解除", "1"},
    {7, 1, "要求結果（0：不可、1：可、2：中）", "0"},
    {8, 0, "[0]：ロック要求、1：ロック解除", "0"},
    {9, 0, "要求データ長 (0～64)", "64"},
    {9, 1, "(空き)", ""},
    {9, 2, "パスワード（0000～9999 / NULL）", ""},
    {9, 3, "MACアドレス（xxxx-xxxx-xxxx）", ""},
    {9, 4, "IPアドレス（xxx.xxx.xxx.xxx）", ""},
    {9, 5, "サブネットマスク（xxx.xxx.xxx.xxx）", ""},
    {9, 6, "デフォルトゲートウェイ （xxx.xxx.xxx.xxx）", ""},
    {9, 7, "プリンターID", ""},
    {9, 8, "タイムアウト（30～240）", ""},
    {9, 9, "DHCP（0：無効、1：有効）", ""},
    {9, 10, "IPSec（0：無効、1：有効）", ""},
    {9, 11, "事前共有鍵", ""},
    {10, 0, "送信データ長 (0～64)", "64"},
    {10, 1, "ネットワーク設定格納領域", "0x..."},
    {10, 2, "パスワード（0000～9999 / NULL）", ""},
    {10, 3, "MACアドレス（xxxx-xxxx-xxxx）", ""},
    {10, 4, "IPアドレス（xxx.xxx.xxx.xxx）", ""},
    {10, 5, "サブネットマスク（xxx.xxx.xxx.xxx）", ""},
    {10, 6, "デフォルトゲートウェイ （xxx.xxx.xxx.xxx）", ""},
    {10, 7, "プリンターID", ""},
    {10, 8, "タイムアウト（30～240）", ""},
    {10, 9, "DHCP（0：無効、1：有効）", ""},
    {10, 10, "IPSec（0：無効、1：有効）", ""},
    {10, 11, "事前共有鍵", ""},
    {11, 0, "キーワード1", "ZK-Q920"},
    {11, 1, "キーワード2", "ZK-Q920"},
    {11, 2, "自PCアドレス", ""},
    {11, 3, "応答データ最大取得数（0～16）", "16"},
    {11, 4, "応答データ先頭アドレス", "0x..."},
    {11, 5, "応答件数", "0"},
    {12, 0, "種別 ([0]～2)", "1"},
    {12, 1, "詳細 ([0]～1)", "1"},
    {14, 0, "印刷枚数 (1～255)", "1"},
    {15, 0, "水平方向開始位置 (0)", "0"},
    {15, 1, "垂直方向開始位置 (0)", "0"},
    {15, 2, "水平方向サイズ (2048)", "2048"},
    {15, 3, "垂直方向サイズ (1300)", "1300"},
    {15, 4, "転送データバイト数 (7987200)", "7987200"},
    {16, 0, "水平方向開始位置 (0)", "0"},
    {16, 1, "垂直方向開始位置 (0)", "0"},
    {16, 2, "水平方向サイズ (2048)", "2048"},
    {16, 3, "垂直方向サイズ (1300)", "1300"},
    {16, 4, "転送データバイト数 (2662400)", "2662400"},
    {16, 5, "使用パネル ([0]：Bk、1：UV)", "0"},
    {25, 0, "データ種別（[0]：CMY、1：Bk、2：UV)", "0"},
    {25, 1, "イメージデータのアドレス", "0x..."},
};

}  // namespace

void CPrinterIO::BuildCommandTable() {
    // Rows 0 to 25; row 26 stays zero and closes the list, as do the rows
    // after it.
    for (const RowText& r : kRows) {
        m_commandTable[r.row].handler = r.handler;
        m_commandTable[r.row].title = r.title;
    }
    for (const SlotText& s : kSlots) {
        CommandParam& p = m_commandTable[s.row].params[s.slot];
        p.label = s.label;
        strncpy(p.defaultText, s.defaultText, sizeof p.defaultText - 1);
        p.defaultText[sizeof p.defaultText - 1] = '\0';
    }
}
