// Runs the blocking operations of the device items (connect, disconnect, identify,
// release of an instrument manager) off the GUI thread, so the window stays usable
// while a link waits for a slow or absent instrument.
//
// Threads: jobs run on this object's own thread pool. Each instrument has a lane; the
// jobs of one lane run one after the other in the order they were queued, so a
// release queued behind a connect never overtakes it. Different lanes run side by side.
// Results reach the GUI through the returned QFuture (watch it with a QFutureWatcher
// owned by the receiver: a watcher deleted first simply hears nothing).
//
// Locks: lane_t::mutex guards the lane's queue and its running flag; it is never held
// while a job runs.
#pragma once

#include <QFuture>
#include <QThreadPool>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class ui_device_jobs_t {
public:
    class lane_t {
        friend class ui_device_jobs_t;
        std::mutex mutex;
        std::deque<std::function<void()>> queue;
        bool running = false;
    };

    // Created on first use; its destructor waits for every queued job.
    static ui_device_jobs_t& instance();

    std::shared_ptr<lane_t> make_lane() const { return std::make_shared<lane_t>(); }
    // Queues `job` on `lane`; the future carries its result.
    QFuture<int> run(const std::shared_ptr<lane_t>& lane, std::function<int()> job);
    // Queues `job` with no result to hand back (a release).
    void post(const std::shared_ptr<lane_t>& lane, std::function<void()> job);
    // Waits up to timeout_ms for every queued job to end; false when some still run.
    bool wait_idle(int timeout_ms);

    ui_device_jobs_t(const ui_device_jobs_t&) = delete;
    ui_device_jobs_t& operator=(const ui_device_jobs_t&) = delete;

private:
    ui_device_jobs_t();
    ~ui_device_jobs_t();
    static void _drain(const std::shared_ptr<lane_t>& lane);

    QThreadPool m_pool;
};
