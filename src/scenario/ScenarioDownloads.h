#pragma once
// Names and ids of the scenario's downloads. The names reach the statistics
// (error tokens such as "vexa8z_<message>;"), the ids tell the scenario's
// download listener a pack report from a runtime report.
namespace scenario_downloads {
constexpr const wchar_t* kRuntimePack = L"jreEbz";
constexpr const wchar_t* kRuntimeParams = L"JAVA_PARAMS";
constexpr const wchar_t* kProductPack = L"vexa8z";
constexpr const wchar_t* kAppdataPack = L"appdata8z";
constexpr int kRuntimeId = 0;
constexpr int kPackId = 1;
}  // namespace scenario_downloads
