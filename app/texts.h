// Every text the window shows. The sources are UTF-8; the compiler stores the literals as
// code page 932 bytes (-fexec-charset=CP932), the form the ANSI interfaces expect. The count
// label, with its formatting, is in app/count_label.h.
#pragma once

inline constexpr char kTitle[] = "Tavimore";
inline constexpr char kClassName[] = "Project_Class";
inline constexpr char kFontFace[] = "MS UI Gothic";

inline constexpr char kFolderLabelText[] = "Output folder";
inline constexpr char kChooseFilesText[] = "Select convert file";
inline constexpr char kPsdCheckText[] = "psdで出力";
inline constexpr char kChooseFolderText[] = "...";
inline constexpr char kConvertText[] = "convert";

inline constexpr char kOpenTitle[] = "変換元ファイル";
// Pairs of description and pattern, ended by an empty string.
inline constexpr char kOpenFilter[] = "対応ファイル(*.g00)\0*.g00\0全てのファイル\0*.*\0";
inline constexpr char kBrowseTitle[] = "出力フォルダ選択";

inline constexpr char kNoMemory[] = "メモリーが確保出来ませんでした";
inline constexpr char kNothingToConvert[] = "ファイル名が設定されていません";
inline constexpr char kConversionFailed[] = "変換に失敗しました";

inline constexpr char kHomepage[] = TAVIMORE_HOMEPAGE;
inline constexpr char kAboutText[] =
    "G00画像変換ソフト Tavimore\n"
    "バージョン " TAVIMORE_VERSION
    "\n"
    "製作: " TAVIMORE_MAKER "\n" TAVIMORE_HOMEPAGE;
