#include "flush_guard.h"

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

namespace {

#if defined(__x86_64__)
#define EMU_HAVE_NATIVE_ARCH 1
constexpr std::uint32_t NATIVE_ARCH = AUDIT_ARCH_X86_64;
#elif defined(__i386__)
#define EMU_HAVE_NATIVE_ARCH 1
constexpr std::uint32_t NATIVE_ARCH = AUDIT_ARCH_I386;
#elif defined(__aarch64__)
#define EMU_HAVE_NATIVE_ARCH 1
constexpr std::uint32_t NATIVE_ARCH = AUDIT_ARCH_AARCH64;
#endif

#ifdef EMU_HAVE_NATIVE_ARCH
constexpr std::uint32_t field(size_t offset)
{
  return static_cast<std::uint32_t>(offset);
}

// ioctl(fd, TCFLSH, queue) of the native kind is held unless it flushes the
// input only (which holds none of the command's bytes, and which a program
// asking the module many times a second makes before every question);
// every other call goes straight on. The request and the queue, the second
// and third arguments, are ints: their low 32 bits (first on a
// little-endian machine) are compared.
constexpr std::array<sock_filter, 13> FILTER = {{
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, field(offsetof(seccomp_data, arch))),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, NATIVE_ARCH, 1, 0),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, field(offsetof(seccomp_data, nr))),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(SYS_ioctl), 1, 0),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, field(offsetof(seccomp_data, args) + sizeof(std::uint64_t))),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TCFLSH, 1, 0),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, field(offsetof(seccomp_data, args) + 2 * sizeof(std::uint64_t))),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TCIFLUSH, 0, 1),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF),
}};

// The filter's listener, or -1 where the machine's system calls are not
// known to it (the flushes then go straight on).
int install_filter()
{
  sock_fprog program{static_cast<unsigned short>(FILTER.size()), const_cast<sock_filter *>(FILTER.data())};
  return static_cast<int>(
      syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &program));
}
#else
int install_filter()
{
  errno = ENOSYS;
  return -1;
}
#endif

// One byte, with the guard's descriptor attached when there is one.
int send_guard(int channel, int guard)
{
  char byte = guard >= 0 ? 'g' : '-';
  iovec part{&byte, 1};
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  if (guard >= 0) {
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    memcpy(CMSG_DATA(header), &guard, sizeof(int));
  }
  return sendmsg(channel, &message, MSG_NOSIGNAL) == 1 ? 0 : -1;
}

} // namespace

int emu_guard_flushes(int channel)
{
  const int guard = install_filter();
  const int error = errno;
  const int sent = send_guard(channel, guard);
  if (guard < 0) {
    errno = error;
    return -1;
  }
  close(guard);
  return sent;
}

int emu_receive_flush_guard(int channel)
{
  char byte = 0;
  iovec part{&byte, 1};
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int))> control{};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  if (recvmsg(channel, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC) != 1)
    return -1;
  const cmsghdr *header = CMSG_FIRSTHDR(&message);
  if (header == nullptr || header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
    return -1;
  int guard = -1;
  memcpy(&guard, CMSG_DATA(header), sizeof(int));
  return guard;
}

int emu_next_flush(int guard, std::uint64_t *id)
{
  seccomp_notif request{};
  if (ioctl(guard, SECCOMP_IOCTL_NOTIF_RECV, &request) < 0)
    return -1;
  *id = request.id;
  return 0;
}

// A process that died meanwhile (ENOENT) needs no answer.
void emu_let_flush_go(int guard, std::uint64_t id)
{
  seccomp_notif_resp response{};
  response.id = id;
  response.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
  (void)ioctl(guard, SECCOMP_IOCTL_NOTIF_SEND, &response);
}
