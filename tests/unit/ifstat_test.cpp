#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <curses.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <string>

#include "fake_netif.h"
#include "ifstat/ifstat.h"
#include "main/main.h"

namespace {

constexpr int AF_LINK_BSD = 18, AF_INET6_BSD = 28;

/* The list as the platforms now write it: one interface's link entry and IPv4 entry. */
TEST(FindIfreq, TheNamedInterfacesOwnEntries)
{
	fake_reset();
	fake_entry("vethlongname015", AF_LINK_BSD, 8 + 15);
	fake_entry("vethlongname015", 2, 16, "10.1.2.3");
	char *buf = reinterpret_cast<char *>(fake.conf);
	char *e = find_ifreq(buf, fake.conf_len, "vethlongname015");
	ASSERT_EQ(e, buf + 16 + 23);
	EXPECT_EQ(memcmp(e + 20, "\x0a\x01\x02\x03", 4), 0);
	EXPECT_EQ(find_ifreq(buf, fake.conf_len, "vethlongname01"), nullptr);
	EXPECT_EQ(find_ifreq(buf, 16 + 23, "vethlongname015"), nullptr);	/* the link entry alone */
}

TEST(FindIfreq, SkipsOtherFamiliesAndComparesWholeNames)
{
	fake_reset();
	fake_entry("lo0", AF_LINK_BSD, 20);
	fake_entry("em0", AF_LINK_BSD, 56);
	fake_entry("em0", AF_INET6_BSD, 28);
	fake_entry("em0", 2, 16, "192.0.2.7");
	fake_entry("em0", 2, 16, "192.0.2.8");
	fake_entry("em01", 2, 16, "192.0.2.9");
	char *buf = reinterpret_cast<char *>(fake.conf);

	char *e = find_ifreq(buf, fake.conf_len, "em0");
	ASSERT_NE(e, nullptr);
	EXPECT_EQ(e - buf, 36 + 72 + 44);	/* sizes 16 + max(len, 16) */
	EXPECT_EQ(memcmp(e + 20, "\xc0\x00\x02\x07", 4), 0);	/* the first IPv4 entry */
	EXPECT_EQ(find_ifreq(buf, fake.conf_len, "em"), nullptr);
	EXPECT_NE(find_ifreq(buf, fake.conf_len, "em01"), nullptr);
	EXPECT_EQ(find_ifreq(buf, fake.conf_len, "lo0"), nullptr);	/* no IPv4 entry */
	EXPECT_EQ(find_ifreq(buf, 0, "em0"), nullptr);
	EXPECT_EQ(find_ifreq(buf, -1, "em0"), nullptr);
	/* a list cut inside an entry never yields that entry */
	EXPECT_EQ(find_ifreq(buf, 36 + 72 + 44 + 20, "em0"), nullptr);
}

/* Curses on /dev/null: windows whose text the tests read back. */
class Sampler : public ::testing::Test {
protected:
	FILE *out = nullptr, *in = nullptr;
	SCREEN *scr = nullptr;

	void SetUp() override
	{
		fake_reset();
		st = state{};
		st.if_sock = -1;
		st.capture = -1;
		st.host_pattern = "";
		out = fopen("/dev/null", "w");
		in = fopen("/dev/null", "r");
		scr = newterm("vt100", out, in);
		ASSERT_NE(scr, nullptr);
		st.upper_win = newwin(10, 80, 0, 0);
		forget_fields();

		fake.ifcount = 4;
		set_row(1, "lo0", 0, 0);
		set_row(3, "vt0", 5000, 50);	/* row 2 is a gap */
		fake_entry("lo0", 2, 16, "127.0.0.1");
		fake_entry("vt0", AF_LINK_BSD, 20);
		fake_entry("vt0", 2, 16, "10.77.0.1");
		fake.flags = IFF_UP | IFF_BROADCAST;
		inet_pton(AF_INET, "10.77.0.255", &fake.brd);
		inet_pton(AF_INET, "10.78.0.2", &fake.dst);
		fake.hostname = "alpha.test";
		fake.now = {1000, 500000};
	}
	void TearDown() override
	{
		delwin(st.upper_win);
		endwin();
		delscreen(scr);
		fclose(out);
		fclose(in);
	}

	static void set_row(int row, const char *name, uint64_t bytes, uint64_t packets)
	{
		if_row &r = fake.rows[row];
		snprintf(r.name, sizeof r.name, "%s", name);
		r.ibytes = bytes;
		r.obytes = bytes / 2;
		r.ipackets = packets;
		r.opackets = packets / 2;
		r.lastchange = 900;
	}
	static void advance(int seconds, const char *ifname = "vt0")
	{
		fake.now.tv_sec += seconds;
		if_update(ifname);
	}
	std::string text(int row, int col, int len)
	{
		char buf[256];
		mvwinnstr(st.upper_win, row, col, buf, len);
		return buf;
	}
};

TEST_F(Sampler, FirstSampleOneSecondAfterTheLookup)
{
	if_init("vt0");
	EXPECT_EQ(st.mib_row, 3);
	if_update("vt0");
	EXPECT_EQ(text(1, 6, 15), std::string(15, ' '));	/* same second: nothing */

	fake.rows[3].ibytes += 2048;
	fake.rows[3].ipackets += 5;
	advance(1);
	EXPECT_EQ(text(1, 6, 16), "10.77.0.1       ");
	EXPECT_EQ(text(1, 22, 12), "alpha.test  ");
	EXPECT_EQ(text(1, 64, 15), "10.77.0.255    ");
	EXPECT_EQ(text(3, 12, 24), "7048 (6k)               ");
	EXPECT_EQ(text(3, 53, 6), "2500 (");
	EXPECT_EQ(text(4, 12, 3), "55 ");
	EXPECT_EQ(text(5, 70, 9), "2048     ");
	EXPECT_EQ(text(7, 70, 9), "5        ");
	EXPECT_EQ(text(6, 70, 9), "0        ");
	EXPECT_EQ(fake.lookups, 1);
}

TEST_F(Sampler, MinuteAndHourWindowsAfterMoreThanTheirLength)
{
	if_init("vt0");
	fake.rows[3].ibytes += 100;
	advance(60);
	EXPECT_EQ(text(5, 42, 1), " ");	/* still the template's, not drawn here */
	fake.rows[3].ibytes += 10;
	advance(1);
	EXPECT_EQ(text(5, 42, 16), "110             ");
	EXPECT_EQ(text(5, 12, 1), " ");
	fake.rows[3].ibytes += 1;
	advance(3600 - 61);
	EXPECT_EQ(text(5, 12, 1), " ");
	advance(1);
	EXPECT_EQ(text(5, 12, 16), "111             ");
}

TEST_F(Sampler, FallingCounterShowsTheUnsignedDifference)
{
	if_init("vt0");
	fake.rows[3].ibytes = 4000;
	advance(1);
	EXPECT_EQ(text(5, 70, 10), "1844674407");	/* 2^64 - 1000, runs on to the right */
	EXPECT_EQ(text(3, 12, 24), "4000 (3k)               ");
}

TEST_F(Sampler, ChangeTimeAndThePreviousOne)
{
	setenv("TZ", "UTC", 1);
	tzset();
	if_init("vt0");
	advance(1);
	EXPECT_EQ(text(2, 5, 33), "Thu Jan  1 00:15:00 1970 (0:0:1) ");
	EXPECT_EQ(text(2, 44, 1), " ");

	fake.rows[3].lastchange = 1000;
	advance(60);
	EXPECT_EQ(text(2, 5, 33), "Thu Jan  1 00:16:40 1970 (0:0:1) ");
	/* the previous change, and how long it had lasted at the sample before */
	EXPECT_EQ(text(2, 44, 33), "Thu Jan  1 00:15:00 1970 (0:0:1) ");

	fake.rows[3].lastchange = 0;
	advance(1);
	EXPECT_EQ(text(2, 5, 53), "last administrative change time unsupported by driver");
}

TEST_F(Sampler, HostNameLookedUpOnlyWhenTheAddressChanges)
{
	fake.hostname = nullptr;
	if_init("vt0");
	advance(1);
	advance(1);
	EXPECT_EQ(text(1, 22, 17), "unknown hostname ");
	EXPECT_EQ(fake.lookups, 1);

	fake.hostname = "gamma.test";
	advance(1);
	EXPECT_EQ(fake.lookups, 1);
	inet_pton(AF_INET, "10.77.0.9", fake.conf + fake.conf_len - 12);
	advance(1);
	EXPECT_EQ(fake.lookups, 2);
	EXPECT_EQ(text(1, 6, 16), "10.77.0.9       ");
	EXPECT_EQ(text(1, 22, 11), "gamma.test ");
	EXPECT_STREQ(st.host_pattern, "gamma.test");
}

/* Figures written only when they change must still never be overwritten by a neighbour. */
TEST_F(Sampler, ANameThatGrowsLaterLeavesTheLabelAlone)
{
	if_init("vt0");
	advance(1);
	std::string name = "a." + std::string(100, 'n') + "\b\b.example";
	fake.hostname = name.c_str();
	inet_pton(AF_INET, "10.77.0.9", fake.conf + fake.conf_len - 12);
	advance(1);
	EXPECT_EQ(text(1, 22, 37), name.substr(0, 37));
	EXPECT_EQ(text(1, 59, 16), "brc: 10.77.0.255");
	fake.hostname = "\bx";
	inet_pton(AF_INET, "10.77.0.8", fake.conf + fake.conf_len - 12);
	advance(1);
	EXPECT_EQ(text(1, 22, 37), "^Hx" + std::string(34, ' '));
	advance(1);
	EXPECT_EQ(text(1, 59, 16), "brc: 10.77.0.255");
}

TEST_F(Sampler, LoopbackAndPointToPoint)
{
	fake.flags = IFF_UP | IFF_LOOPBACK;
	if_init("vt0");
	advance(1);
	EXPECT_EQ(text(1, 64, 1), " ");

	fake.flags = IFF_UP | IFF_POINTOPOINT;
	advance(1);
	EXPECT_EQ(text(1, 64, 15), "10.78.0.2      ");
}

TEST_F(Sampler, InterfaceThatVanishesAndComesBack)
{
	if_init("vt0");
	fake.rows[3].ibytes += 7;
	advance(1);
	EXPECT_EQ(text(5, 70, 2), "7 ");

	/* address gone: the window keeps its last figures */
	int len = fake.conf_len;
	fake.conf_len -= 32;
	fake.rows[3].ibytes += 1000;
	advance(1);
	EXPECT_EQ(text(1, 6, 10), "10.77.0.1 ");
	EXPECT_EQ(text(5, 70, 2), "7 ");

	/* made again under a new index, with fresh counters */
	fake.conf_len = len;
	fake.rows[3] = if_row{};
	fake.ifcount = 6;
	set_row(6, "vt0", 10, 1);
	advance(1);
	EXPECT_EQ(st.mib_row, 6);	/* looked up by name in the same sample */
	fake.rows[6].ibytes += 3;
	advance(1);
	EXPECT_EQ(text(5, 70, 9), "3        ");
	EXPECT_EQ(text(3, 12, 3), "13 ");
}

TEST_F(Sampler, DeletedBetweenListAndRequestIsNoError)
{
	if_init("vt0");
	fake.rows[3].ibytes += 7;
	advance(1);
	fake.request_errno = ENODEV;
	fake.rows[3].ibytes += 100;
	advance(1);
	EXPECT_EQ(text(5, 70, 2), "7 ");
	fake.request_errno = EADDRNOTAVAIL;
	advance(1);
	EXPECT_EQ(text(5, 70, 2), "7 ");
	fake.request_errno = 0;
	advance(1);
	EXPECT_EQ(text(5, 70, 4), "100 ");
}

using SamplerDeathTest = Sampler;

TEST_F(SamplerDeathTest, OtherRequestFailuresEndTheProcess)
{
	if_init("vt0");
	fake.request_errno = EIO;
	EXPECT_EXIT(advance(1), ::testing::ExitedWithCode(1), "^FLAGS: Input/output error\n$");
}

TEST_F(Sampler, NotFoundLeavesTheTemplateAlone)
{
	if_init("nope0");
	EXPECT_EQ(st.cur_ifr, nullptr);
	EXPECT_EQ(st.mib_row, 0);
	advance(1, "nope0");
	EXPECT_EQ(text(1, 6, 1), " ");

	/* an entry lying beyond the first 2048 bytes of the list is not found */
	fake_reset();
	for (int i = 0; i < 64; i++)
		fake_entry("pad", 2, 16, "192.0.2.1");
	fake_entry("vt0", 2, 16, "10.77.0.1");
	st.cur_ifr = nullptr;
	if_init("vt0");
	EXPECT_EQ(st.cur_ifr, nullptr);
}

}
