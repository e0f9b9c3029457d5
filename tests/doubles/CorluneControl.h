#pragma once
// The bus double Corlune.dll as its tests and benchmarks drive it. Besides the library's own exports it has
// control exports, reached with GetProcAddress by these names.
//
// Settings: "key=value" pairs separated by ';' or line ends, read from the environment variable
// CORLUNE_DOUBLE_CONFIG and the file named by CORLUNE_DOUBLE_CONFIG_FILE when the broker starts (the library is
// loaded and unloaded per use in whole-program runs), changed later by CorluneConfigure. Numbers are decimal or 0x
// hex. Keys:
//   mode=async|sync        sync: deliveries and immediate replies run inside publish/request on the caller's thread
//   workers=N              worker threads (1-8, default 2)
//   fail.create=1          CreateObject answers null
//   fail.open|fail.close|fail.publish|fail.request=<status>   that entry fails with the status (and does nothing)
//   refuse.subscribe=<name>, refuse.filter=<pattern>, refuse.request=<name>   refused (repeatable)
//   reply=echo|fail|timeout|none   how requests are answered when no responder takes them (default echo)
//   reply.status=<status>  the failure status of reply=fail (default 0x80000002)
//   reply.delay=<ms>       replies wait this long; longer than the request's time-out means a time-out reply
//   header.version=1|2     the header handed to callbacks (1: 100 bytes just before an inaccessible page)
//   session=<id>           stamped into the header of every delivery
//   journal=<path>         overrides CORLUNE_DOUBLE_JOURNAL
//   Unknown keys are kept for responders (CorluneResponder.h).
//
// Journal (file named by CORLUNE_DOUBLE_JOURNAL or journal=): one UTF-8 line per call, flushed per line, fields
// separated by tabs, the first the entry ("create", "open", "close", "publish", "publishAlternate", "request",
// "requestAlternate", "subscribe", "subscribeRegex", "unsubscribe", "unregisterReplyCallback", "deliver",
// "reply"), then key=value fields: handle, thread, name, sender, data, version, total, totalOk (total equals
// 108 + 2 * lengths + 6), flags, correlation, timeout, index, id, status (what the entry returned) or result (what
// a callback returned).
#include <windows.h>

#include <cstdint>

namespace doubles::corlune {

inline constexpr char kConfigureExport[] = "CorluneConfigure";          // uint32_t(const wchar_t* settings)
inline constexpr char kResetExport[] = "CorluneReset";                  // void(): settings back to the environment's
inline constexpr char kInjectExport[] = "CorluneInjectDelivery";        // see InjectDelivery
inline constexpr char kWaitIdleExport[] = "CorluneWaitIdle";            // uint32_t(uint32_t ms): 1 when idle in time
inline constexpr char kOpenHandlesExport[] = "CorluneOpenHandles";      // uint32_t()
inline constexpr char kSubscriptionsExport[] = "CorluneSubscriptions";  // uint32_t()
inline constexpr char kReplyCallbacksExport[] = "CorluneReplyCallbacks";// uint32_t(): registered reply callbacks
inline constexpr char kWorkersExport[] = "CorluneWorkerThreads";        // uint32_t(): running worker threads

using Configure = uint32_t (*)(const wchar_t* settings);
using Reset = void (*)();
// A message from another module: delivered to every matching subscription with this session id and header
// version. 0, or 0x80000008 for a null name.
using InjectDelivery = uint32_t (*)(const wchar_t* name, const wchar_t* sender, const wchar_t* data,
                                    uint32_t sessionId, uint16_t headerVersion);
using Count = uint32_t (*)();
using WaitIdle = uint32_t (*)(uint32_t milliseconds);

inline constexpr wchar_t kConfigVariable[] = L"CORLUNE_DOUBLE_CONFIG";
inline constexpr wchar_t kConfigFileVariable[] = L"CORLUNE_DOUBLE_CONFIG_FILE";
inline constexpr wchar_t kJournalVariable[] = L"CORLUNE_DOUBLE_JOURNAL";

}  // namespace doubles::corlune
