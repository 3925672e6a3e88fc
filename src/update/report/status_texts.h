// Every text that the update engine shows in the status line or writes to the
// log, in the order in which a run reaches them. Formats take UTF-8 arguments.
#pragma once

namespace update_text {

// Version check.
constexpr char kRequestingVersionList[] = "请求版本列表...";
constexpr char kRequestingUpdate[] = "正在请求更新...";
constexpr char kRequestingFromServer[] = "正在向 %s:%s请求( %d )...";
constexpr char kVersionListFetchFailed[] = "请求版本列表失败!";
constexpr char kUpdateFailedCode[] = "更新失败 . 错误代码 : %d";
// The list came, but is too large or not text in its encoding.
constexpr char kVersionListUnreadable[] = "版本列表无法读取.";
constexpr char kAnalysingVersionList[] = "开始分析版本列表";
constexpr char kUpdateAnomalyCode[] = "更新异常 . 错误代码 : %d";
constexpr char kVersionListNoLines[] = "版本列表分析失败.";
constexpr char kVersionListNoEntries[] = "版本列表解析失败.";
constexpr char kAlreadyNewest[] = "已经是最新版本.";
constexpr char kNewVersionAvailable[] = "有新的版本可以更新.";
constexpr char kUpdatingTo[] = "正在更新至 : %s";
constexpr char kAnalysingUpdateList[] = "分析更新列表...";
constexpr char kVersionCheckDone[] = "版本检查完毕";

// Preparation.
constexpr char kPreparing[] = "准备更新......";
// The work folder could not be emptied or created (a file in it is held open).
constexpr char kWorkFolderFailed[] = "无法创建更新目录 : %s";

// Lists.
constexpr char kExecuting[] = "开始执行更新......";
constexpr char kRequestingUpdateList[] = "请求更新列表......";
constexpr char kUpdateListFetchFailed[] = "请求更新列表失败 . 错误代码 : %d";
constexpr char kUpdateListUnreadable[] = "更新列表无法读取.";
constexpr char kUpdateListNoLines[] = "分析更新列表失败.";
constexpr char kDeleteLineCount[] = "del = %d";
// Only a delete list that the server does not have means "nothing to delete".
constexpr char kDeleteListFetchFailed[] = "请求删除列表失败 . 错误代码 : %d";
constexpr char kDeleteListUnreadable[] = "删除列表无法读取.";
constexpr char kNothingToUpdate[] = "没有可以更新的内容.";
// A list names a path that would leave the launcher folder, or a package name
// that is not a plain file name: nothing of the list is installed.
constexpr char kUnsafePath[] = "更新列表含有不安全的路径 : %s";
// A member size that is negative, beyond 2^63 - 1, or carries the total past it.
constexpr char kBadSize[] = "更新列表含有无效的大小 : %s";

// Disk space, before the first package is fetched: what the step writes
// does not fit (needed, free, a folder on that volume), or a volume's room
// could not be read and the step goes on unchecked.
constexpr char kDiskSpaceShort[] = "磁盘空间不足 : 需要 %s, 可用 %s (%s)";
constexpr char kDiskSpaceUnread[] = "无法读取磁盘空间, 不做检查 : %s";

// Downloads.
constexpr char kDownloadStart[] = "开始下载更新...%lld";
constexpr char kWaitForDownloading[] = "Wait for downloading -> %s....";
constexpr char kPackageDownloadFailed[] = "下载更新包失败 错误 : %d";
constexpr char kDownloadDone[] = "下载完成";
// A download that stalled and stayed stalled through its resumes: the file,
// the resumes made and the seconds since its first attempt on that host.
constexpr char kDownloadStalled[] = "下载停滞 : %s . 已续传 %d 次, 历时 %d 秒";
// Before a resume of a stalled download: the pause, the resume's number, the
// most resumes and the URL.
constexpr char kStallResumeLog[] = "下载停滞, %d 秒后续传 (%d/%d) : %s";
// Update hosts: the host that served a file, and one left for the rest of
// the step with the reason.
constexpr char kServedByLog[] = "下载自 %s : %s";
// An https host whose certificate could not be trusted or that refused the
// handshake: "host : reason" (unknown issuer, expired, not yet valid, another
// host name, refused, an alert). The next host is tried.
constexpr char kSecureConnectionFailed[] = "无法建立安全连接 : %s";
constexpr char kHostLeftLog[] = "不再使用更新服务器 %s : %s";

// Delta members. None of these ends a step: a file whose delta cannot be
// used comes from its full package in the same run.
constexpr char kPatchListFetchFailed[] = "请求补丁列表失败, 使用完整更新包 . 错误代码 : %d";
constexpr char kPatchListRefused[] = "补丁列表与文件清单不符, 使用完整更新包 : %s";
constexpr char kPatchListUnreadable[] = "补丁列表无法读取, 使用完整更新包.";
constexpr char kPatchListMalformed[] = "补丁列表含有无效的行, 使用完整更新包 : %s";
constexpr char kDeltaSourceDiffers[] = "%s 与补丁的源文件不同, 使用完整更新包";
constexpr char kDeltaChosen[] = "增量更新 : %d 个文件, %d 个补丁包";
constexpr char kWaitForPatching[] = "Wait for patching -> %s....";
constexpr char kDeltaFallback[] = "%s 增量更新失败, 改用完整更新包 %s : %s";
// Bytes received over the network for the step, and what its full packages
// would have cost.
constexpr char kDeltaSaving[] = "下载 %s (完整更新 %s)";

// Unpacking.
constexpr char kUnpackStart[] = "开始解包...";
constexpr char kWaitForUnpackaging[] = "Wait for unpackaging -> %s....";
constexpr char kOpenPackageFailed[] = "open package %s error!";
constexpr char kExtractFailed[] = "Undo package %s error!";
constexpr char kDigestMismatch[] = "MD5 mismatch %s : expected %s, got %s";
constexpr char kInstallFailedBox[] = "更新安装失败! 请尝试下载手动更新包或联系客服, 谢谢!";
constexpr char kInstallNotTaken[] = "版本 %s 安装未成功!";
constexpr char kSelfMoveFailed[] = "%s error!";
constexpr char kUnpackDone[] = "解包完成";
// A package failed its check and another host serves it: the failure is
// logged, then the package and the URL it is fetched again from.
constexpr char kPackageFetchAgain[] = "更新包 %s 已损坏, 从另一个服务器重新下载 : %s";

// Hand-off.
constexpr char kDeleteAdded[] = "Add del = %s";
constexpr char kDeleteAbsent[] = "del %s is no is exist";
constexpr char kPreparingInstall[] = "正在准备更新...";
constexpr char kHandOffWriteFailed[] = "安装列表写入失败 : %s";
constexpr char kInstallerStarted[] = "正在安装更新...";
constexpr char kInstallerStartLog[] = "开始安装更新...";
constexpr char kInstallerStartFailed[] = "安装程序启动失败 ! 错误代码 :%d";
constexpr char kResumingInstallLog[] = "上次更新安装未完成, 重新启动安装程序: %s";

// Signed releases: every refusal leaves the installed game as it was.
constexpr char kReleasesNotChecked[] = "没有内置运营商公钥, 不校验版本发布的签名.";
constexpr char kTrustKeysLog[] = "运营商公钥 : %s";
constexpr char kTrustKeysNoneLog[] = "运营商公钥 : 无, 不校验版本发布的签名.";
constexpr char kTrustKeysUnreadableLog[] = "运营商公钥 : 内置的公钥都无法读取, 将拒绝所有版本发布.";
constexpr char kListUnsigned[] = "服务器的版本列表没有运营商的签名, 已拒绝更新.";
constexpr char kListForeignKey[] = "服务器的版本列表不是运营商签名的, 已拒绝更新.";
constexpr char kListBadSignature[] = "服务器的版本列表与签名不符, 已拒绝更新.";
constexpr char kListRollback[] = "服务器的版本列表比已接受过的旧, 已拒绝更新.";
constexpr char kListExpired[] = "服务器的版本列表已过期, 已拒绝更新.";
constexpr char kListAcceptedLog[] = "版本列表签名有效 : 序号 %llu, 有效期至 %s, 现在 %s";
constexpr char kTrustStateDamaged[] = "签名状态文件已损坏, 按序号 0 处理 : %s";
constexpr char kTrustStateWriteFailed[] = "签名状态文件无法写入 : %s";
constexpr char kManifestUnsigned[] = "版本 %s 的文件清单没有运营商的签名, 已拒绝更新.";
constexpr char kManifestForeignKey[] = "版本 %s 的文件清单不是运营商签名的, 已拒绝更新.";
constexpr char kManifestBadSignature[] = "版本 %s 的文件清单与签名不符, 已拒绝更新.";
constexpr char kManifestOtherVersion[] = "文件清单不属于版本 %s, 已拒绝更新.";
constexpr char kManifestUnreadable[] = "版本 %s 的文件清单无法读取, 已拒绝更新.";
constexpr char kManifestNotPinned[] = "版本列表没有版本 %s 的文件清单摘要, 已拒绝更新.";
constexpr char kManifestNotAsPinned[] = "版本 %s 的文件清单与版本列表不符, 已拒绝更新.";
constexpr char kFileNotInManifest[] = "文件清单中没有 %s, 已拒绝更新.";
constexpr char kFileNotAsInManifest[] = "%s 与文件清单不符, 已拒绝更新.";
constexpr char kTrustFileFetchFailed[] = "请求 %s 失败 . 错误代码 : %d";

// A stop request ended the run between two steps or inside a transfer.
constexpr char kStopped[] = "更新已停止.";

// The work folder's downloads kept from an earlier run toward the same
// version: kept, one used as it was, one that cannot be continued.
constexpr char kKeptDownloadsLog[] = "继续版本 %s 的下载, 保留已下载的文件";
constexpr char kKeptDownloadUsed[] = "使用已下载的 %s (%lld 字节)";
constexpr char kKeptDownloadDropped[] = "已下载的 %s 无法续传, 重新下载";
constexpr char kKeptDownloadAgain[] = "已下载的 %s 已损坏, 重新下载 : %s";

// A catch-up or repair: the server gives no byte ranges of a package, or a
// span did not hold what the state index says; the whole package serves.
constexpr char kCatchUpNoRanges[] = "服务器不支持按范围下载 %s, 下载整个更新包";
constexpr char kCatchUpSpanRefused[] = "按范围下载的 %s 与文件索引不符, 改为下载整个更新包 : %s";
// The newest version's index could not be used for one step there.
constexpr char kCatchUpTaken[] = "从 %s 直接更新至 %s";
constexpr char kCatchUpNotTaken[] = "不能直接更新至 %s, 逐个版本更新 : %s";
// version.data missing or unreadable: the installed version taken from the
// files against the versions' indexes, or counted as the oldest listed one.
constexpr char kRecoveringVersion[] = "版本文件不可用, 正在根据游戏文件确定当前版本";
constexpr char kRecoveredVersion[] = "根据游戏文件确定当前版本为 %s (%d 个文件相符)";
constexpr char kRecoveredAsOldest[] = "无法根据游戏文件确定当前版本, 按最早的版本 %s 更新";
// Repair: what the check found, and the server without an index of it.
constexpr char kRepairFound[] = "发现 %d 个文件损坏, 修复需下载 %s";
constexpr char kRepairNothing[] = "没有需要修复的文件";
constexpr char kRepairNoIndex[] = "服务器没有版本 %s 的文件索引, 无法修复";
constexpr char kRepairNoVersion[] = "服务器上没有版本 %s, 无法修复";

// A step paused by the player, and at the next start one that can go on:
// the bytes kept and the step's size.
constexpr char kPausedFormat[] = "已暂停 : 已下载 %s / %s";
constexpr char kCanContinueFormat[] = "可继续更新 : 已下载 %s / %s";

// The two reporting formats.
constexpr char kPercentFormat[] = "正在努力更新 :  %.1f %% ->%s";
constexpr char kUnpackingFormat[] = "正在解包 : ->%s";

}  // namespace update_text
