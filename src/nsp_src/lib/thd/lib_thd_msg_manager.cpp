#include "nsp_src/lib/thd/lib_thd_msg_manager.h"

#include <pthread.h>

#include <chrono>

namespace nsp::thd {

namespace {
// std::mutex leaves its pthread mutex alive; destroying it tells ThreadSanitizer that the
// address is free, so a later engine reusing it is not taken for the same lock.
void destroy_native(std::mutex& mutex) { pthread_mutex_destroy(mutex.native_handle()); }
}  // namespace

msg_base_t::~msg_base_t() { destroy_native(m_mutex); }

msg_manager_t::~msg_manager_t() {
    m_queue.clear();  // records still queued are dropped unexecuted
    destroy_native(m_queue_mutex);
    destroy_native(m_send_mutex);
}

int msg_base_t::_call(int op, std::vector<void*>&& args) {
    std::lock_guard<std::mutex> send_lock(*m_psend_mutex);
    std::unique_lock<std::mutex> msg_lock(m_mutex);
    std::condition_variable data_cond;
    int result = 0;
    m_done = false;

    msg_data_t msg_data;
    msg_data.header.type = 0;
    msg_data.header.op = op;
    msg_data.header.pret = &result;
    msg_data.header.pdata_cond = &data_cond;
    msg_data.header.pmsg_addr = this;
    msg_data.args = std::move(args);
    m_manager->_post(std::move(msg_data));

    // The engine needs m_mutex to mark completion, so the signal cannot come before this wait.
    data_cond.wait(msg_lock, [this] { return m_done; });
    return result;
}

void msg_base_t::_complete(msg_data_t& msg_data) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_done = true;
    // Signalled under the lock: the caller's condition variable lives on its stack and
    // is gone as soon as the caller sees m_done.
    msg_data.header.pdata_cond->notify_one();
}

void msg_manager_t::register_msg(msg_base_t* msg) {
    if (!NSP_ASSERT(msg != nullptr)) return;
    msg->m_manager = this;
    msg->m_psend_mutex = &m_send_mutex;
    msg->m_registered.store(true);  // publishes the two pointers to callers already waiting
    m_msg_list.push_back(msg);
}

void msg_manager_t::_post(msg_data_t&& msg_data) {
    {
        std::lock_guard<std::mutex> lock(m_queue_mutex);
        m_queue.push_back(std::move(msg_data));
    }
    m_queue_cond.notify_one();
}

void msg_manager_t::dispatch_one(unsigned timeout_ms) {
    std::unique_lock<std::mutex> lock(m_queue_mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    if (!m_queue_cond.wait_until(lock, deadline, [this] { return !m_queue.empty(); })) return;
    msg_data_t msg_data = std::move(m_queue.front());
    m_queue.pop_front();
    lock.unlock();

    if (!NSP_ASSERT(msg_data.header.pmsg_addr != nullptr)) return;
    msg_data.header.pmsg_addr->execute(msg_data);
}

void set_thread_name(const std::string& name) {
    if (!NSP_ASSERT(name.size() < 16)) return;
    pthread_setname_np(pthread_self(), name.c_str());
}

void run_dispatch_loop(msg_manager_t& manager, std::atomic<bool>& quit, const std::string& thread_name,
                       unsigned timeout_ms) {
    set_thread_name(thread_name);
    while (!quit.load()) manager.dispatch_one(timeout_ms);
}

}  // namespace nsp::thd
