// [Web] as read and checked, and the serial monitor's frames as the page
// asks for them.

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "web/WebFeed.h"
#include "web/WebFormats.h"
#include "web/WebSettings.h"

namespace tarvel::test {
namespace {

TEST(WebSettings, ServeOnLoopbackOrWithCredentialsAndNameEachBadValue) {
    const struct {
        std::map<std::string, std::string> keys;
        std::string address;  // of the settings read, problems or not
        std::vector<std::string> problems;
    } cases[] = {
        {{}, "http://127.0.0.1:0/", {}},  // no Port: off, nothing else read
        {{{"Port", "8080"}, {"Bind", "0.0.0.0"}}, "http://0.0.0.0:8080/",
         {"[Web] Bind: \"0.0.0.0\" non è un indirizzo locale (loopback): servono User e Password"}},
        {{{"Port", "8080"}, {"Bind", "0.0.0.0"}, {"User", "a"}, {"Password", "b"}},
         "http://0.0.0.0:8080/", {}},
        {{{"Port", "443"}, {"Bind", "::1"}, {"CertFile", "c.pem"}, {"KeyFile", "/k.pem"}},
         "https://[::1]:443/", {}},
        {{{"Port", "8080"}, {"Bind", "::ffff:127.0.0.9"}}, "http://[::ffff:127.0.0.9]:8080/", {}},
        {{{"Port", "8080"}, {"Bind", "::ffff:10.0.0.1"}}, "http://[::ffff:10.0.0.1]:8080/",
         {"[Web] Bind: \"::ffff:10.0.0.1\" non è un indirizzo locale (loopback): servono User e "
          "Password"}},
        {{{"Port", "0"}, {"Bind", "localhost"}, {"User", "a:b"}, {"CertFile", "c"}},
         "https://127.0.0.1:0/",
         {"[Web] Port: valore non valido \"0\" (da 1 a 65535)",
          "[Web] Bind: valore non valido \"localhost\" (un indirizzo IPv4 o IPv6 in cifre)",
          "[Web] User: valore non valido \"a:b\" (senza \":\" né caratteri di controllo)",
          "[Web] Password: chiave mancante (User e Password vanno insieme)",
          "[Web] KeyFile: chiave mancante (CertFile e KeyFile vanno insieme)"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> problems;
        const WebSettings s = ReadWebSettings(
            [&](const std::string& k) { return c.keys.count(k) ? c.keys.at(k) : ""; }, "/srv", problems);
        EXPECT_EQ(s.address(), c.address);
        EXPECT_EQ(problems, c.problems) << c.address;
        if (c.keys.count("CertFile") && problems.empty()) {
            EXPECT_EQ(s.certFile, "/srv/c.pem");
        }
    }
}

// The frames are numbered once each; after the log was emptied the new
// ones go on from the last number.
TEST(WebFeed, MonitorFramesAreNumberedOnceAcrossAnEmptiedLog) {
    WebFeed feed;
    MonitorLog log;
    Health health;
    CycleReport report;
    const auto cycle = [&] {
        feed.publish({report, health, log, {}, {}, {}});
        return MonitorJson(*feed.current(), 1);
    };
    log.addRequest("01 03");
    log.addAnswer("01 03 02");
    log.addRequest("02 03");
    log.addAnswer("Time-out");
    EXPECT_EQ(cycle(), "{\"last\": 2, \"frames\": [{\"n\": 2, \"tx\": \"02 03\", \"rx\": \"Time-out\"}]}");
    log.wipe();
    log.addRequest("");
    log.addAnswer("Skipped");
    EXPECT_EQ(cycle(), "{\"last\": 3, \"frames\": [{\"n\": 2, \"tx\": \"02 03\", \"rx\": \"Time-out\"}, "
                       "{\"n\": 3, \"tx\": \"\", \"rx\": \"Skipped\"}]}");
    EXPECT_EQ(cycle(), MonitorJson(*feed.current(), 1)) << "nothing new, nothing twice";
}

// A stream's wait for the next cycle ends as soon as the server ends the
// waits (without it, this test waits an hour), and no wait starts while they
// are ended; a cycle that came is still told.
TEST(WebFeed, EndedWaitsReturnAtOnce) {
    WebFeed feed;
    std::uint64_t seen = 0;
    bool told = true;
    std::thread stream([&] { told = feed.waitNewer(seen, std::chrono::hours(1)); });
    feed.endWaits(true);
    stream.join();
    EXPECT_FALSE(told);
    EXPECT_FALSE(feed.waitNewer(seen, std::chrono::hours(1)));
    MonitorLog log;
    Health health;
    CycleReport report;
    feed.publish({report, health, log, {}, {}, {}});
    EXPECT_TRUE(feed.waitNewer(seen, std::chrono::hours(1)));
    EXPECT_EQ(seen, 1u);
}

}  // namespace
}  // namespace tarvel::test
