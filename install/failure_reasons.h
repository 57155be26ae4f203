// The failure-reason texts the window sends to analytics ("下载失败原因",
// "安装失败原因"). Pure formatting: the facts (free space, write test,
// network code) are gathered by CDownloadInstaller::ReportDownloadFailure.
//
// Every text fits the 200-character buffer the analytics reason has been
// sent in (199 characters and the terminator). A text that would be longer
// is shortened in the report's own message, which is the only part of
// unbounded length: the message ends in "…" and the parts after it (disk,
// permission, network) survive. No cut falls inside a surrogate pair.
#pragma once

#include <cstdint>
#include <string>

inline constexpr size_t kMaxReasonChars = 199;

// The report's number truncated toward zero, as "%ld" prints it; a value
// out of long's range (or not a number) is clamped rather than undefined.
long ReasonCode(double number);

// "1.code=%ld；2.msg=%s；3.缓存磁盘容量=%.2fG；4.缓存读写权限=%s；5.服务器连接状态code=%d"
std::wstring DownloadFailureReason(double number, const std::wstring& message, double freeGiB, bool writable,
                                   uint32_t networkCode);

// ":1.code=%ld；2.msg=%s"
std::wstring FailureReason(double number, const std::wstring& message);
