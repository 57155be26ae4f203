// Report codes of the package and uninstall phases, as the window and the
// orchestrator receive them through PhaseCallback. The download phase's
// codes (1001-1006) are the downloaders' own. Numbers are never reused:
// 3006 and 5001 are retired and must stay unused.
#pragma once

#include <cstdint>

// Package runner (CInstaller).
inline constexpr int32_t IST_CODE_START = 2001;
inline constexpr int32_t IST_CODE_PROGRESS = 2002;
inline constexpr int32_t INSTALL_SUCCESS = 2003;
inline constexpr int32_t IST_CODE_FAIL = 2004;

// Information the package reports about what it installed.
inline constexpr int32_t IST_INFO_INST_PATH = 3000;
inline constexpr int32_t IST_INFO_EXE_PATH = 3001;
inline constexpr int32_t IST_INFO_UNINST_EXE = 3002;
inline constexpr int32_t IST_INFO_UNINST_EP = 3003;
inline constexpr int32_t IST_INFO_START_URL = 3004;
inline constexpr int32_t IST_INFO_STARTUP_STYLE = 3005;
// 3006: retired.
inline constexpr int32_t IST_INFO_TOP_SHOW_DETENTION = 3007;
inline constexpr int32_t IST_INFO_FINISH_CLOSE_DETENTION = 3008;
inline constexpr int32_t IST_INFO_MESSAGE = 3009;

// Previous-version uninstaller (CUnInstaller).
// 5001: retired.
inline constexpr int32_t UNIST_CODE_PROGRESS = 5002;
inline constexpr int32_t UNIST_CODE_SUCCESS = 5003;
inline constexpr int32_t UNIST_CODE_FAIL = 5004;
inline constexpr int32_t UNIST_CODE_ERROR = 5005;

// Numbers carried by IST_CODE_FAIL, UNIST_CODE_FAIL and the success codes.
inline constexpr double kFailLaunch = 2;              // pipe or process could not be created
inline constexpr double kFailNoUninstaller = 1;       // UNIST_CODE_FAIL: the copy is missing
inline constexpr double kFailUninstallerOutside = 3;  // UNIST_CODE_FAIL: not in the registered install folder
inline constexpr double kFailPackageError = 1000;
inline constexpr double kFailUntrustedUninstaller = 4;  // UNIST_CODE_FAIL: not the publisher's
// DL_CODE_FAIL: the downloaded package is not the publisher's (beside
// libcurl's codes, which stay below 100, and the system's HRESULTs).
inline constexpr double kFailUntrustedPackage = 9001;
inline constexpr double kExitedWithoutFinalLine = 1;  // INSTALL_SUCCESS / UNIST_CODE_SUCCESS, and
                                                      // IST_CODE_FAIL for an exit code other than 0

// Texts the runners send themselves.
inline constexpr const wchar_t* kPackageFailText = L"安装包安装失败";
inline constexpr const wchar_t* kUninstallFailText = L"安装包卸载失败";
inline constexpr const wchar_t* kNoUninstallerText = L"可执行卸载文件不存在";
inline constexpr const wchar_t* kUninstallerStillRunningText = L"卸载程序报告成功后仍未退出";
inline constexpr const wchar_t* kUninstallerOutsideText = L"卸载文件不在安装目录中";
inline constexpr const wchar_t* kPackageChangedText = L"安装包校验后被改动";          // IST_CODE_FAIL (2)
inline constexpr const wchar_t* kUntrustedPackageText = L"安装包签名校验失败";        // DL_CODE_NOTICE, DL_CODE_FAIL
inline constexpr const wchar_t* kUntrustedUninstallerText = L"卸载程序签名校验失败";  // UNIST_CODE_FAIL (4)
inline constexpr const wchar_t* kPackageExitText = L"安装包异常退出，退出码=";        // followed by the code
