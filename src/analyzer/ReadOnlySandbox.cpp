// SPDX-License-Identifier: GPL-3.0-or-later

#include "ReadOnlySandbox.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The call list names x86-64 calls that other architectures lack.
#if defined(__x86_64__)
constexpr uint32_t auditArch = AUDIT_ARCH_X86_64;
#else
#error "the analyser's seccomp filter is written for x86-64"
#endif

#if defined(__SANITIZE_ADDRESS__)
constexpr bool addressSanitizer = true;
#else
constexpr bool addressSanitizer = false;
#endif

constexpr rlim_t addressSpaceBytes = rlim_t(4) << 30;

// Landlock handles every file-system right this kernel knows and grants
// only reading below "/"; where the kernel lacks it the filter below is the
// whole confinement. Returns false only when Landlock exists and failed.
bool restrictWithLandlock() {
    const long abi =
        ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1)
        return true;
    landlock_ruleset_attr attributes{};
    attributes.handled_access_fs =
        (abi >= 2 ? LANDLOCK_ACCESS_FS_REFER : 0) | ((LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1);
    const int ruleset =
        int(::syscall(SYS_landlock_create_ruleset, &attributes, sizeof attributes, 0));
    if (ruleset < 0)
        return false;
    landlock_path_beneath_attr readable{};
    readable.allowed_access = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
    readable.parent_fd = ::open("/", O_PATH | O_CLOEXEC);
    const bool done =
        readable.parent_fd >= 0 &&
        ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &readable, 0) == 0 &&
        ::syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    if (readable.parent_fd >= 0)
        ::close(readable.parent_fd);
    ::close(ruleset);
    return done;
}

sock_filter load(uint32_t offset) {
    return BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset);
}
sock_filter answer(uint32_t action) {
    return BPF_STMT(BPF_RET | BPF_K, action);
}
constexpr uint32_t refused = SECCOMP_RET_ERRNO | EPERM;

bool installSeccompFilter() {
    const int denied[] = {
        SYS_creat,      SYS_truncate,  SYS_ftruncate,
        SYS_unlink,     SYS_unlinkat,  SYS_rename,
        SYS_renameat,   SYS_renameat2, SYS_mkdir,
        SYS_mkdirat,    SYS_rmdir,     SYS_link,
        SYS_linkat,     SYS_symlink,   SYS_symlinkat,
        SYS_mknod,      SYS_mknodat,   SYS_chmod,
        SYS_fchmodat,   SYS_chown,     SYS_fchownat,
        SYS_execve,     SYS_execveat,  SYS_socket,
        SYS_socketpair, SYS_openat2,   SYS_open_by_handle_at,
    };
    constexpr uint32_t writing = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND;
    const uint32_t number = offsetof(seccomp_data, nr);
    std::vector<sock_filter> program{
        load(offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, auditArch, 1, 0),
        answer(SECCOMP_RET_KILL_PROCESS),
        load(number),
        // The x32 numbers of the same calls would pass the list below.
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000, 0, 1),
        answer(refused),
    };
    for (int call : denied) {
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(call), 0, 1));
        program.push_back(answer(refused));
    }
    // Opening is allowed for reading only: the flags are the second argument
    // of open and the third of openat.
    const std::pair<int, int> opens[] = {{SYS_open, 1}, {SYS_openat, 2}};
    for (const auto& [call, flagsArgument] : opens) {
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, uint32_t(call), 0, 4));
        program.push_back(load(uint32_t(offsetof(seccomp_data, args) + 8 * flagsArgument)));
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, writing, 0, 1));
        program.push_back(answer(refused));
        program.push_back(answer(SECCOMP_RET_ALLOW));
    }
    program.push_back(answer(SECCOMP_RET_ALLOW));
    const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    return ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

} // namespace

std::string enterReadOnlySandbox() {
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return std::string("no_new_privs: ") + std::strerror(errno);
    // The sanitizers reserve terabytes of shadow memory up front.
    const rlimit space{addressSpaceBytes, addressSpaceBytes};
    if (!addressSanitizer && ::setrlimit(RLIMIT_AS, &space) != 0)
        return std::string("address-space limit: ") + std::strerror(errno);
    if (!restrictWithLandlock())
        return std::string("Landlock: ") + std::strerror(errno);
    if (!installSeccompFilter())
        return std::string("seccomp: ") + std::strerror(errno);
    return {};
}

void limitProcessorTime(int64_t seconds) {
    rusage used{};
    rlimit limit{};
    if (::getrusage(RUSAGE_SELF, &used) != 0 || ::getrlimit(RLIMIT_CPU, &limit) != 0)
        return;
    const rlim_t wanted = rlim_t(used.ru_utime.tv_sec + used.ru_stime.tv_sec + 1 + seconds);
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
    ::setrlimit(RLIMIT_CPU, &limit);
}
