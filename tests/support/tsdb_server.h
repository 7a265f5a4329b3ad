// A real time-series database for a test: InfluxDB 1.x (influxd) or VictoriaMetrics,
// started on its own random loopback address 127.a.b.c with its own temp data
// directory, and stopped (SIGTERM, then SIGKILL) with the object. stop() and start()
// again keep the address and the data, as a database restart does. Every wait is
// bounded (10 s).
//
// points() reads back what the database holds, over its HTTP query API (libcurl):
// InfluxDB answers nanoseconds, VictoriaMetrics milliseconds (its own resolution).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace velkaro_test {

struct tsdb_point_t {
    std::string measurement;
    std::map<std::string, std::string> tags;
    double value = 0;
    int64_t time = 0;  // ns (InfluxDB) or ms (VictoriaMetrics)
    std::map<std::string, std::string> fields;  // the other fields, as text
};

// One HTTP request on loopback: the status (0: no answer) and the body.
struct http_answer_t {
    long status = 0;
    std::string body;
};
// `ca_file`: the CA that an https server's certificate must chain to (empty: the system's).
http_answer_t http_request(const std::string& url, const std::string& post_body = {}, bool post = false,
                           const std::string& ca_file = {});

// A certificate authority of the test's own (openssl, 2048-bit RSA, valid two days) in
// `dir`: false when openssl failed.
bool make_test_ca(const std::string& dir, const std::string& name, std::string& cert, std::string& key);

// A server that speaks https with a certificate for its own address, issued by this CA.
struct tsdb_tls_t {
    std::string ca_cert;
    std::string ca_key;
};

class tsdb_server_t {
public:
    enum kind_t { influxdb, victoria_metrics };
    explicit tsdb_server_t(kind_t kind);
    tsdb_server_t(kind_t kind, tsdb_tls_t tls);
    ~tsdb_server_t();
    tsdb_server_t(const tsdb_server_t&) = delete;
    tsdb_server_t& operator=(const tsdb_server_t&) = delete;

    static bool available(kind_t kind);  // the server program is installed
    static const char* kind_name(kind_t kind);

    bool start();  // first start picks an address; later ones reuse it
    void stop();
    bool ok() const { return m_pid > 0; }
    kind_t kind() const { return m_kind; }
    const std::string& address() const { return m_address; }
    int port() const { return m_port; }
    std::string base_url() const;                       // http[s]://127.a.b.c:PORT
    std::string write_url(const std::string& db) const;  // .../write?db=DB
    std::string v2_write_url(const std::string& org, const std::string& bucket) const;

    bool create_database(const std::string& db);  // InfluxDB; VictoriaMetrics needs none
    // Every point of `measurement` (and, for VictoriaMetrics, of its "db" label).
    std::vector<tsdb_point_t> points(const std::string& measurement, const std::string& db);

private:
    bool _start_at(const std::string& address, bool& bind_failed);
    // A certificate and key for `address` in m_dir, issued by m_tls's CA.
    bool _issue_certificate(const std::string& address, std::string& cert, std::string& key);

    kind_t m_kind;
    tsdb_tls_t m_tls;  // empty: plain http
    std::string m_dir;
    std::string m_address;
    int m_port = 0;
    int m_pid = -1;
};

}  // namespace velkaro_test
