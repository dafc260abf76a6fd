// corvanectl stream's rows in the three forms, from snapshots made by hand: what the lab
// test cannot pin (exact cells of a faulty stream, a service whose PMT never came).
#include <gtest/gtest.h>

#include <sstream>

#include "cli/stream_report.h"

namespace corvane::cli {
namespace {

StreamDestination destination(const std::string& text) {
    std::string error;
    return *parseStreamDestination(text, error);
}

TEST(StreamReport, FaultyAndMissingStreamsInEveryForm) {
    const Ipv4Address module = destination("10.77.64.13@239.10.2.1:1234").source;
    StreamRow faulty{module, module, {}};
    StreamSnapshot& s = faulty.snapshot;
    s.destination = destination("239.10.2.1:1234");
    s.arrived = true;
    s.encapsulation = Encapsulation::rtp;
    s.seconds = 2.0004;
    s.datagrams = 360;
    s.packets = 2520;
    s.bitrate = 1895040.4;
    s.netBitrate = 1137024.6;
    s.errors.continuityCountError = 45;
    s.errors.patError = 1;
    s.rtpLost = 10;
    s.maxGapMs = 37.1234;
    s.services = {{1, 256, std::nullopt, {}}, {2, 512, 513, {{513, 0x1B}}}};
    s.pids = {{513, 100, 1504.4, 3}};
    StreamRow missing{std::nullopt, {}, {}};
    missing.snapshot.destination = destination("10.77.0.1:5000");
    missing.snapshot.seconds = 2;
    const std::vector<StreamRow> rows = {faulty, missing};

    std::ostringstream table;
    printTable(table, streamTable(rows, OutputForm::table));
    EXPECT_EQ(table.str(),
              "TARGET       DESTINATION      ARRIVED  ENCAP  MBIT/S  NET   ERRORS                  "
              "                RTP LOST  DROPS  MAX GAP MS  SERVICES\n"
              "10.77.64.13  239.10.2.1:1234  yes      rtp    1.90    1.14  1 pat_error, 45 "
              "continuity_count_error  10        0      37.1        1 (PMT 256, 0 streams), 2 "
              "(PMT 512, PCR 513, 1 stream)\n"
              "             10.77.0.1:5000   no\n");
    std::ostringstream csv;
    printCsv(csv, streamTable(rows, OutputForm::csv));
    EXPECT_EQ(csv.str(),
              "target,destination,source,arrived,encapsulation,seconds,datagrams,packets,bitrate,"
              "net_bitrate,only_stuffing,ts_sync_loss,sync_byte_error,pat_error,continuity_count_"
              "error,pmt_error,pid_error,rtp_lost,socket_drops,max_gap_ms\n"
              "10.77.64.13,239.10.2.1:1234,10.77.64.13,true,rtp,2.0,360,2520,1895040,1137025,"
              "false,0,0,1,45,0,0,10,0,37.1\n"
              ",10.77.0.1:5000,,false,,2.0,0,0,0,0,false,0,0,0,0,0,0,0,0,0.0\n");
    EXPECT_EQ(streamJson(faulty)["services"].dump(),
              R"([{"program":1,"pmt_pid":256,"pcr_pid":null,"streams":[]},)"
              R"({"program":2,"pmt_pid":512,"pcr_pid":513,"streams":[{"pid":513,"type":27}]}])");
    EXPECT_EQ(streamJson(faulty)["pids"].dump(),
              R"([{"pid":513,"bitrate":1504,"continuity_count_error":3}])");
    const Json absent = streamJson(missing);
    EXPECT_EQ(absent["target"], nullptr);
    EXPECT_EQ(absent["source"], nullptr);
    EXPECT_EQ(absent["encapsulation"], nullptr);
    EXPECT_EQ(absent["seconds"], 2.0);
    EXPECT_EQ(errorsText(IndicatorCounts{}), "none");
}

}  // namespace
}  // namespace corvane::cli
