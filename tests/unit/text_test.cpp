#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <string>

#include "lines/lines.h"
#include "main/main.h"

namespace {

/* A present interface's sample, a second after the one before. */
sample_rec second(uint64_t in_bytes, uint64_t in_pkts, uint64_t count_in = 0)
{
	sample_rec r{};
	r.present = true;
	r.flags = IF_UP;
	r.span = SECOND;
	r.kept = ((1u << NCOUNTERS) - 1) & ~(1u << OMCASTS | 1u << ICOLLS);	/* as Linux */
	r.wall = 1796000000;	/* 2026-11-30T00:53:20Z */
	r.delta[IBYTES] = in_bytes;
	r.delta[IPACKETS] = in_pkts;
	r.count[IBYTES] = count_in;
	snprintf(r.addr, sizeof r.addr, "10.0.0.1");
	return r;
}

class Text : public ::testing::Test {
protected:
	void SetUp() override
	{
		setenv("TZ", "UTC0", 1);
		tzset();
	}
	std::string text(const text_sum &t, const sample_rec &end, bool bits = false)
	{
		char buf[TEXT_LINE_SIZE];
		text_line(buf, sizeof buf, t, end, bits, nullptr);
		return buf;
	}
	std::string json(const text_sum &t, const sample_rec &end, std::string_view name = "vt0")
	{
		char buf[TEXT_LINE_SIZE];
		json_line(buf, sizeof buf, t, end, name, false);
		return buf;
	}
};

TEST_F(Text, AnIntervalIsItsDifferencesOverItsRealSpan)
{
	text_sum t{};
	for (int i = 0; i < 5; i++)
		sum_sample(&t, second(1000 + i, 1));
	EXPECT_EQ(t.samples, 5);
	/* 5010 bytes in 5 s: 1002 a second, in bits 8016 */
	EXPECT_EQ(text(t, second(0, 0)), "2026-11-30T00:53:20         1002            0          1 "
					 "         0 up    10.0.0.1             0      0       0       0\n");
	EXPECT_NE(text(t, second(0, 0), true).find(" 8016 "), std::string::npos);
	char head[TEXT_LINE_SIZE];
	text_header(head, sizeof head, true, false);
	EXPECT_STREQ(head, "time                    inbits/s    outbits/s   inpkts/s  outpkts/s state "
			   "address         ierr/s oerr/s idrop/s odrop/s\n");
	EXPECT_LT(strlen(head), 121u);

	/* a stop made one sample span 3 s: the average is over the time it covers */
	text_sum held{};
	sample_rec r = second(3000, 3);
	r.span = 3 * SECOND;
	sum_sample(&held, r);
	EXPECT_NE(text(held, r).find(" 1000 "), std::string::npos);

	/* a 4 s stop in a line of 5: the interval says the 8.412 s it covered */
	text_sum late{};
	r = second(84120, 0);
	r.span = 8412 * (SECOND / 1000);
	sum_sample(&late, r);
	std::string line = json(late, r);
	EXPECT_NE(line.find("\"interval\":8.412,\"in_bytes_per_s\":10000,"), std::string::npos) << line;
	/* rounded to the nearest: 1042 bytes in 1.0004 s are 1042 a second */
	r = second(1042, 1);
	r.span = SECOND + SECOND / 2500;
	text_sum near{};
	sum_sample(&near, r);
	EXPECT_NE(json(near, r).find("\"interval\":1.000,\"in_bytes_per_s\":1042,"), std::string::npos);
}

TEST_F(Text, NoFiguresAcrossAGapOrAFall)
{
	text_sum t{};
	sum_sample(&t, second(100, 1));
	sample_rec fell = second(0, 0);
	fell.fresh = true;
	sum_sample(&t, fell);
	EXPECT_EQ(text(t, second(0, 0)).substr(19, 48), "            -            -          -          -");

	sample_rec gone{};
	gone.wall = 1796000000;
	gone.span = 5 * SECOND;
	gone.fresh = true;
	text_sum g{};
	sum_sample(&g, gone);
	EXPECT_EQ(text(g, gone).substr(67), " gone  -                    -      -       -       -\n");
	EXPECT_EQ(json(g, gone),
		  "{\"time\":\"2026-11-30T00:53:20+00:00\",\"interface\":\"vt0\",\"interval\":5.000,"
		  "\"in_bytes_per_s\":null,\"out_bytes_per_s\":null,\"in_packets_per_s\":null,"
		  "\"out_packets_per_s\":null,\"in_errors_per_s\":null,\"out_errors_per_s\":null,"
		  "\"in_drops_per_s\":null,\"out_drops_per_s\":null,\"in_multicast_per_s\":null,"
		  "\"out_multicast_per_s\":null,\"in_bytes\":null,\"out_bytes\":null,\"in_packets\":null,"
		  "\"out_packets\":null,\"in_errors\":null,\"out_errors\":null,\"in_drops\":null,"
		  "\"out_drops\":null,\"in_multicast\":null,\"out_multicast\":null,\"state\":\"gone\","
		  "\"address\":null}\n");
}

/* Errors, drops and multicast: rates and counters; one the system does not keep is null, not 0. */
TEST_F(Text, TroubleCountersAndOnesNotKept)
{
	text_sum t{};
	sample_rec r = second(0, 0);
	r.delta[IERRORS] = 3;
	r.delta[ODROPS] = 12;
	r.delta[IMCASTS] = 7;
	r.count[IERRORS] = 40;
	r.count[OMCASTS] = 0;
	sum_sample(&t, r);
	std::string line = json(t, r);
	EXPECT_NE(line.find("\"in_errors_per_s\":3,\"out_errors_per_s\":0,\"in_drops_per_s\":0,"
			    "\"out_drops_per_s\":12,\"in_multicast_per_s\":7,\"out_multicast_per_s\":null,"),
		  std::string::npos) << line;
	EXPECT_NE(line.find("\"in_errors\":40,"), std::string::npos);
	EXPECT_NE(line.find("\"out_multicast\":null,"), std::string::npos);
	EXPECT_EQ(text(t, r).substr(89), "      3      0       0      12\n");
}

TEST_F(Text, JsonCarriesTheCountersAndEscapesTheName)
{
	text_sum t{};
	sum_sample(&t, second(18446744073709551615u, 0));
	std::string line = json(t, second(0, 0, 18446744073709551615u), "v\"\\\x01\xc3\xa9");
	EXPECT_NE(line.find("\"interface\":\"v\\\"\\\\\\u0001\\u00c3\\u00a9\""), std::string::npos);
	EXPECT_NE(line.find("\"in_bytes_per_s\":18446744073709551615,"), std::string::npos);
	EXPECT_NE(line.find("\"in_bytes\":18446744073709551615,"), std::string::npos);
	EXPECT_NE(line.find("\"state\":\"up\",\"address\":\"10.0.0.1\"}\n"), std::string::npos);

	/* cut to the buffer: never half an escape, always closed */
	char small[12];
	json_string(small, sizeof small, "ab\x01\x02\x03");
	EXPECT_STREQ(small, "\"ab\\u0001\"");
}

}
