#include "ui/ui_device_column/ui_device_jobs.h"

#include <QFutureInterface>
#include <QRunnable>

#include "ui/mngr/ui_connect_mngr.h"

namespace {

// Enough for several slow instruments at once; more lanes simply wait their turn.
constexpr int max_job_threads = 8;
// At exit a link still waiting for an instrument ends within its own time-out.
constexpr int exit_wait_ms = 30000;

}  // namespace

ui_device_jobs_t& ui_device_jobs_t::instance() {
    // The registry must outlive the jobs (a release may still run at exit).
    ui_connect_mngr_t::instance();
    static ui_device_jobs_t jobs;
    return jobs;
}

ui_device_jobs_t::ui_device_jobs_t() {
    m_pool.setMaxThreadCount(max_job_threads);
    m_pool.setExpiryTimeout(1000);
}

ui_device_jobs_t::~ui_device_jobs_t() { m_pool.waitForDone(exit_wait_ms); }

QFuture<int> ui_device_jobs_t::run(const std::shared_ptr<lane_t>& lane, std::function<int()> job) {
    QFutureInterface<int> result;
    result.reportStarted();
    post(lane, [result, job = std::move(job)]() mutable {
        const int value = job();
        result.reportResult(value);
        result.reportFinished();
    });
    return result.future();
}

void ui_device_jobs_t::post(const std::shared_ptr<lane_t>& lane, std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(lane->mutex);
        lane->queue.push_back(std::move(job));
        if (lane->running) return;  // the lane's runner takes it after the jobs before it
        lane->running = true;
    }
    m_pool.start(QRunnable::create([lane] { _drain(lane); }));
}

void ui_device_jobs_t::_drain(const std::shared_ptr<lane_t>& lane) {
    // Bounded by the jobs queued: each turn takes one, and an item queues at most a
    // connect and a release at a time.
    for (;;) {
        std::function<void()> job;
        {
            std::lock_guard<std::mutex> lock(lane->mutex);
            if (lane->queue.empty()) {
                lane->running = false;
                return;
            }
            job = std::move(lane->queue.front());
            lane->queue.pop_front();
        }
        job();
    }
}

bool ui_device_jobs_t::wait_idle(int timeout_ms) { return m_pool.waitForDone(timeout_ms); }
