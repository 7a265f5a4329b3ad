#include "ui/ui_quit_signal.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include "nsp_src/lib/lib_assert.h"

namespace {

// Write end of the pipe, read by the handler; lock-free, so safe in a signal handler.
std::atomic<int> s_quit_write_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free fd");

// The pipe holds at most a few bytes (one per signal); drain with a bound anyway.
constexpr int max_drain_reads = 64;

}  // namespace

void ui_quit_signal_t::_on_signal(int signal_number) {
    const int saved_errno = errno;
    const int fd = s_quit_write_fd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signal_number);
        const ssize_t written = ::write(fd, &byte, 1);
        (void)written;  // a full pipe already holds a pending request
    }
    errno = saved_errno;
}

ui_quit_signal_t::ui_quit_signal_t(QObject* parent) : QObject(parent) {
    if (!NSP_ASSERT(s_quit_write_fd.load() < 0)) return;
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::printf("ui_quit_signal_t: pipe2 failed, errno %d\n", errno);
        m_pipe[0] = m_pipe[1] = -1;
        return;
    }
    s_quit_write_fd.store(m_pipe[1]);

    struct sigaction action {};
    action.sa_handler = &ui_quit_signal_t::_on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    if (::sigaction(SIGTERM, &action, &m_old_term) != 0) {
        std::printf("ui_quit_signal_t: sigaction failed, errno %d\n", errno);
        return;
    }
    if (::sigaction(SIGINT, &action, &m_old_int) != 0) {
        std::printf("ui_quit_signal_t: sigaction failed, errno %d\n", errno);
        ::sigaction(SIGTERM, &m_old_term, nullptr);
        return;
    }
    m_handlers_installed = true;

    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ui_quit_signal_t::slot_read_pipe);
}

ui_quit_signal_t::~ui_quit_signal_t() {
    // Handlers first, so that no signal can write into a pipe that is being closed.
    _restore_handlers();
    s_quit_write_fd.store(-1);
    delete m_notifier;
    for (int& fd : m_pipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void ui_quit_signal_t::_restore_handlers() {
    if (!m_handlers_installed) return;
    ::sigaction(SIGTERM, &m_old_term, nullptr);
    ::sigaction(SIGINT, &m_old_int, nullptr);
    m_handlers_installed = false;
}

void ui_quit_signal_t::slot_read_pipe() {
    int last_signal = 0;
    for (int i = 0; i < max_drain_reads; ++i) {
        unsigned char byte = 0;
        const ssize_t got = ::read(m_pipe[0], &byte, 1);
        if (got != 1) break;  // EAGAIN: drained
        last_signal = byte;
    }
    if (last_signal != 0) {
        std::printf("Quit requested by signal %d\n", last_signal);
        std::fflush(stdout);
        emit signal_quit_requested(last_signal);
    }
}
