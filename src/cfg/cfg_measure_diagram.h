// Settings of the measure-diagram (trend) view of one instrument.
#pragma once

class acq_main_t;

class cfg_measure_diagram_t {
public:
    static constexpr double min_rec_time = 60.0;
    static constexpr double max_rec_time = 86400.0;

    explicit cfg_measure_diagram_t(acq_main_t* engine);

    // Clamped to 60..86400 s, stored and sent to the engine.
    void set_rec_time(double seconds);
    double get_rec_time() const { return m_rec_time; }
    // Ignored when unchanged or when either limit is the overload value.
    void set_range_limits(double min, double max);
    void get_range_limits(double& min, double& max) const {
        min = m_range_min;
        max = m_range_max;
    }
    void set_range_mode(int mode) { m_range_mode = mode; }
    int get_range_mode() const { return m_range_mode; }
    void set_trend_mode(int mode) { m_trend_mode = mode; }
    int get_trend_mode() const { return m_trend_mode; }
    // rec_time 60 (sent), range_mode 0, trend_mode 0; the limits stay.
    void reset();

private:
    acq_main_t* m_pacq = nullptr;
    int m_trend_mode = 0;
    double m_rec_time = min_rec_time;
    double m_range_min = 0.0;
    double m_range_max = 0.0;
    int m_range_mode = 0;
};
