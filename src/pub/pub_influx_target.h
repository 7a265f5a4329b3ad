// An InfluxDB-compatible HTTP(S) write endpoint, through libcurl:
//   http[s]://[USER@]HOST:PORT/write?db=DB              InfluxDB 1.x, VictoriaMetrics
//       (USER with the password given apart, as HTTP basic authentication)
//   http[s]://HOST:PORT/api/v2/write?org=ORG&bucket=B   InfluxDB 2/3 ("Authorization: Token")
// Timestamps are nanoseconds ("precision=ns"/"precision=n" is added to the query).
// Certificates are always verified (a private CA through the CA file). Answers:
// 2xx sent; 429, 5xx and network failures retry (with the server's Retry-After);
// any other status refused, with the server's own error text as the reason.
//
// Threads: see pub_target.h; the curl handle belongs to the sender thread, m_abort is
// the only state abort() touches.
#pragma once

#include <atomic>
#include <string>

#include "pub/pub_target.h"

typedef void CURL;
struct curl_slist;

class pub_influx_target_t : public pub_target_t {
public:
    enum api_t { api_v1, api_v2 };

    // Use pub_make_target; `write_url` is the full URL to post to, without credentials.
    pub_influx_target_t(api_t api, std::string name, std::string write_url, std::string user,
                        const pub_target_config_t& config);
    ~pub_influx_target_t() override;

    const std::string& name() const override { return m_name; }
    pub_send_result_t send(std::string_view lines) override;
    void abort() override { m_abort = true; }

    api_t api() const { return m_api; }

private:
    static size_t _on_header(char* data, size_t size, size_t count, void* self);
    static size_t _on_body(char* data, size_t size, size_t count, void* self);
    static int _on_progress(void* self, long long, long long, long long, long long);

    const api_t m_api;
    const std::string m_name;
    const std::string m_write_url;
    const std::string m_user;
    const std::string m_password;
    const std::string m_ca_file;
    const double m_timeout_s;
    std::atomic<bool> m_abort{false};
    CURL* m_curl = nullptr;
    curl_slist* m_headers = nullptr;
    // Of the answer in progress (sender thread).
    std::string m_answer_body;
    double m_retry_after_s = 0;
};
