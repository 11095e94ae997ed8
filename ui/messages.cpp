// The message catalogue: every text the updater shows, one column per language.
#include "ui/messages.h"

#include <windows.h>

#include "ui/app_state.h"
#include "ui/languages.h"

namespace {

// One row per message id, one column per row of kLanguages (ui/languages.h), in its order: English, then
// Japanese. A missing text (null) is shown in English.
const wchar_t* const kMessages[][kLanguageCount] = {
    {L"\"硝子の羽を数えて\" Updater ver 1.01",
     L"「硝子の羽を数えて」 Updater ver 1.01"},  // 0
    {L"Failed to get version information.",
     L"バージョン情報の取得に失敗しました。"},  // 1
    {L"The game is not installed.",
     L"ゲームがインストールされていません。"},  // 2
    {L"The installed folder cannot be found.\nDo you want to specify the installation folder?",
     L"インストールされたデータが見つかりません。\nインストール先のフォルダを指定しますか？"},  // 3
    {L"Select the installation folder.",
     L"インストールするフォルダを選択してください。"},  // 4
    {L"Install the update?",
     L"アップデートを行いますか？"},  // 5
    {L"\"硝子の羽を数えて\" was not found in the folder you selected.",
     L"選択されたフォルダに「硝子の羽を数えて」はインストールされていません。"},  // 6
    {L"This will cancel the installation process.",
     L"アップデートをキャンセルします。"},  // 7
    {L"The update is already installed.",
     L"既にアップデートは適用されています。"},  // 8
    {L"The folder you selected does not exist.",
     L"指定されたフォルダは存在しません。"},  // 9
    {L"Installing \"%s\".",
     L"\"%s\"をインストール中"},  // 10
    {L"Cancel the installation?",
     L"インストールを中止しますか？"},  // 11
    {L"Installation complete.",
     L"インストールが完了しました。"},  // 12
    {L"The installer may be damaged.",
     L"インストールプログラムが破損している可能性があります。"},  // 13
    {L"Installation could not be completed.",
     L"何らかの要因によりインストールが行えません。"},  // 14
    {L"Failed to update the installation info.",
     L"アンインストレーションファイルの更新に失敗しました。"},  // 15
    {L"Failed at dialog initiation.",
     L"ダイアログの起動に失敗しました。"},  // 16
    {L"Update cannot be installed because the game is currently running.",
     L"ゲームが実行中であるためアップデートを行えません。"},  // 17
    {L"Error",
     L"エラー"},  // 18
    {L"This update does not apply to the installed version of the game.",
     L"このアップデートは、インストールされているゲームのバージョンには適用できません。"},  // 19
};

const uint32_t kMessageCount = sizeof kMessages / sizeof kMessages[0];

}  // namespace

const wchar_t* GetMessageText(uint32_t id)
{
    // Unknown ids give the empty text in every language.
    if (id >= kMessageCount)
        return L"";
    const size_t column = LanguageIndex(g_uiLanguage);
    const wchar_t* chosen = kMessages[id][column];
    return chosen ? chosen : kMessages[id][0];
}

void ShowWarning(const wchar_t* text) { MessageBoxW(nullptr, text, g_titleText, MB_ICONEXCLAMATION); }

void ShowInfo(const wchar_t* text) { MessageBoxW(nullptr, text, g_titleText, MB_ICONINFORMATION); }
