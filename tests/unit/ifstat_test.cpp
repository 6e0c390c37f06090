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
#include "screen/screen.h"

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

constexpr int64_t S = 1000000000;

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
		st.notice_fd = -1;
		st.lookup_fd = -1;
		st.host_pattern = "";
		out = fopen("/dev/null", "w");
		in = fopen("/dev/null", "r");
		scr = newterm("vt100", out, in);
		ASSERT_NE(scr, nullptr);
		st.upper_win = newwin(10, 80, 0, 0);
		st.lower_win = newwin(14, 80, 10, 0);
		st.curses_active = 1;
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
		fake.mono = 1000 * S + S / 2;
		fake.wall = 1000;
	}
	void TearDown() override
	{
		lookup_cancel();
		delwin(st.upper_win);
		delwin(st.lower_win);
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
	/* the look-up child answers, as the main loop would see it */
	static void answer()
	{
		while (st.lookup_pid > 0) {
			fd_set readable;
			FD_ZERO(&readable);
			FD_SET(st.lookup_fd, &readable);
			select(st.lookup_fd + 1, &readable, nullptr, nullptr, nullptr);
			lookup_read();
		}
	}
	static void start(const char *ifname = "vt0")
	{
		if_init(ifname);
		answer();
		if_update(ifname);
	}
	static void advance(int seconds, const char *ifname = "vt0")
	{
		fake.mono += seconds * S;
		fake.wall += seconds;
		if_update(ifname);
	}
	std::string text(int row, int col, int len)
	{
		char buf[256];
		mvwinnstr(st.upper_win, row, col, buf, len);
		return buf;
	}
	void ipv4(const char *addr)
	{
		inet_pton(AF_INET, addr, fake.conf + fake.conf_len - 12);
	}
};

TEST_F(Sampler, AddressAtOnceFiguresOneSecondAfterTheLookup)
{
	start();
	EXPECT_EQ(st.mib_row, 3);
	EXPECT_EQ(text(1, 6, 16), "10.77.0.1       ");
	EXPECT_EQ(text(1, 22, 12), "alpha.test  ");
	EXPECT_EQ(text(1, 59, 20), "brc: 10.77.0.255    ");
	EXPECT_EQ(text(3, 12, 1), " ");	/* no figures in the same second */

	fake.rows[3].ibytes += 2048;
	fake.rows[3].ipackets += 5;
	advance(1);
	EXPECT_EQ(text(3, 12, 24), "7048 (6k)               ");
	EXPECT_EQ(text(3, 53, 6), "2500 (");
	EXPECT_EQ(text(4, 12, 3), "55 ");
	EXPECT_EQ(text(5, 70, 9), "2048     ");
	EXPECT_EQ(text(7, 70, 9), "5        ");
	EXPECT_EQ(text(6, 70, 9), "0        ");
	EXPECT_EQ(fake.lookups, 1);
}

TEST_F(Sampler, MinuteAndHourWindowsOnTheMonotonicClock)
{
	start();
	fake.rows[3].ibytes += 100;
	advance(60);
	EXPECT_EQ(text(5, 42, 2), "- ");	/* still the template's */
	/* the wall clock steps back ten minutes: no window moves */
	fake.wall -= 600;
	fake.rows[3].ibytes += 10;
	advance(1);
	EXPECT_EQ(text(5, 42, 16), "110             ");
	EXPECT_EQ(text(5, 12, 2), "- ");
	/* and forward two hours: still no hour window */
	fake.wall += 7200;
	fake.rows[3].ibytes += 1;
	advance(3600 - 61);
	EXPECT_EQ(text(5, 12, 2), "- ");
	advance(1);
	EXPECT_EQ(text(5, 12, 16), "111             ");
	/* the change row: no phantom previous change, the age by the monotonic clock */
	EXPECT_EQ(text(2, 44, 1), " ");
	EXPECT_NE(text(2, 5, 40).find("(0:1:1)"), std::string::npos) << text(2, 5, 40);
}

TEST_F(Sampler, AFallingCounterStartsTheFiguresAgain)
{
	start();
	fake.rows[3].ibytes += 70;
	advance(61);
	EXPECT_EQ(text(5, 42, 3), "70 ");
	fake.rows[3].ibytes = 4000;	/* re-created at the same index, or a driver reset */
	advance(1);
	EXPECT_EQ(text(5, 42, 3), "-  ");	/* the template again */
	EXPECT_EQ(text(5, 70, 3), "-  ");
	fake.rows[3].ibytes += 12500000000ull;
	advance(1);
	EXPECT_EQ(text(5, 70, 10), "12207031k ");	/* a 100 GbE second stays in its field */
	EXPECT_EQ(text(6, 58, 14), "outbytes/s: 0 ");
}

/* 1000 bytes a second arrive steadily; one wake-up comes 0.35 s late (a short stop). */
TEST_F(Sampler, ALateWakeUpIsDividedByTheTimeItReallyCovered)
{
	start();
	fake.rows[3].ibytes += 1000;
	advance(1);
	EXPECT_EQ(text(5, 70, 5), "1000 ");
	fake.mono += S + S * 35 / 100;
	fake.rows[3].ibytes += 1350;
	if_update("vt0");
	EXPECT_EQ(text(5, 70, 5), "1000 ");
	EXPECT_EQ(st.rec.span, S + S * 35 / 100);
	/* the grid goes on: the next sample covers the 0.65 s left */
	fake.mono += S * 65 / 100;
	fake.rows[3].ibytes += 650;
	if_update("vt0");
	EXPECT_EQ(text(5, 70, 5), "1000 ");
	EXPECT_EQ(st.rec.delta[IBYTES], 650u);
	EXPECT_EQ(st.rec.per_second[IBYTES], 1000u);
}

/* 50 bytes a second for a minute but a 3 s burst of 500; errors and drops alongside. */
TEST_F(Sampler, PeakWithItsTimeAndTheAverageStartAgainWithTheFigures)
{
	start();
	for (int t = 1; t <= 60; t++) {
		fake.rows[3].ibytes += t >= 20 && t < 23 ? 500 : 50;
		fake.rows[3].ierrors += 2;
		fake.rows[3].odrops += t == 30 ? 7 : 0;
		advance(1);
	}
	const sample_rec &r = st.rec;
	EXPECT_EQ(r.peak[IBYTES], 500u);
	EXPECT_EQ(r.peak_at[IBYTES], 1000 + 20);	/* the first second that reached it */
	EXPECT_EQ(r.avg[IBYTES], 73u);	/* 4350 bytes in 60 s, to the nearest */
	EXPECT_EQ(r.per_second[IERRORS], 2u);
	EXPECT_EQ(r.avg[IERRORS], 2u);
	EXPECT_EQ(r.peak[ODROPS], 7u);
	EXPECT_EQ(r.count[ODROPS], 7u);
	/* what this system does not keep is marked so, whatever it reads */
	EXPECT_FALSE(r.kept >> OMCASTS & 1);
	EXPECT_FALSE(r.kept >> ICOLLS & 1);
	EXPECT_TRUE(r.kept >> IMCASTS & 1 && r.kept >> OCOLLS & 1 && r.kept >> IERRORS & 1);

	/* counters that fell: no spike, and the figures start again */
	fake.rows[3].ibytes = 10;
	advance(1);
	EXPECT_FALSE(st.rec.have_avg);
	EXPECT_EQ(st.rec.peak[IBYTES], 0u);
	EXPECT_EQ(st.rec.peak_at[IBYTES], 0);
	fake.rows[3].ibytes += 40;
	advance(1);
	EXPECT_TRUE(st.rec.have_avg);
	EXPECT_EQ(st.rec.avg[IBYTES], 40u);
	EXPECT_EQ(st.rec.peak[IBYTES], 40u);
}

TEST_F(Sampler, ChangeTimeAndThePreviousOne)
{
	setenv("TZ", "UTC", 1);
	tzset();
	start();
	advance(1);
	EXPECT_EQ(text(2, 5, 33), "Thu Jan  1 00:15:00 1970 (0:0:1) ");
	EXPECT_EQ(text(2, 44, 1), " ");

	fake.rows[3].lastchange = 1000;
	advance(60);
	EXPECT_EQ(text(2, 5, 33), "Thu Jan  1 00:16:40 1970 (0:0:1) ");
	/* the previous change, and how long it had lasted at the sample before */
	EXPECT_EQ(text(2, 44, 33), "Thu Jan  1 00:15:00 1970 (0:0:1) ");

	/* a down and an up between two samples: the up shown, the down at the right */
	fake.rows[3].prevchange = 1100;
	fake.rows[3].lastchange = 1250;
	fake.rows[3].changes = 2;
	advance(240);
	EXPECT_EQ(text(2, 5, 33), "Thu Jan  1 00:20:50 1970 (0:0:0) ");
	EXPECT_EQ(text(2, 44, 33), "Thu Jan  1 00:18:20 1970 (0:0:2) ");

	fake.rows[3].lastchange = 0;
	advance(1);
	EXPECT_EQ(text(2, 5, 53), "last administrative change time unsupported by driver");
}

TEST_F(Sampler, HostNameLookedUpWhenTheAddressChangesAndAgainWhileUnknown)
{
	fake.hostname = nullptr;
	start();
	EXPECT_EQ(text(1, 22, 17), "unknown hostname ");
	advance(1);
	EXPECT_EQ(fake.lookups, 1);

	fake.hostname = "gamma.test";
	advance(30);
	EXPECT_EQ(fake.lookups, 1);
	advance(30);	/* a minute after: asked again */
	EXPECT_EQ(fake.lookups, 2);
	answer();
	advance(1);
	EXPECT_EQ(text(1, 22, 11), "gamma.test ");

	/* a new address: the field waits blank for its name, the figures go on */
	fake.hostname = "delta.test";
	ipv4("10.77.0.9");
	advance(1);
	EXPECT_EQ(fake.lookups, 3);
	EXPECT_EQ(text(1, 6, 16), "10.77.0.9       ");
	EXPECT_EQ(text(1, 22, 11), "           ");
	EXPECT_STREQ(st.host_pattern, "");
	answer();
	advance(1);
	EXPECT_EQ(text(1, 22, 11), "delta.test ");
	EXPECT_STREQ(st.host_pattern, "delta.test");
}

TEST_F(Sampler, ASilentResolverIsGivenUpAfterTenSeconds)
{
	start();
	/* a look-up that hangs: a resolver that never answers, or a stopped child */
	fake.lookup_delay = 100;
	ipv4("10.77.0.9");
	advance(1);
	ASSERT_GT(st.lookup_pid, 0);
	pid_t child = st.lookup_pid;
	kill(child, SIGSTOP);
	advance(9);
	EXPECT_EQ(st.lookup_pid, child);
	advance(1);
	EXPECT_EQ(st.lookup_pid, 0);
	EXPECT_EQ(text(1, 22, 17), "unknown hostname ");
	EXPECT_EQ(kill(child, 0), -1);	/* killed and reaped */
}

/* Figures written only when they change must still never be overwritten by a neighbour. */
TEST_F(Sampler, ANameThatGrowsLaterLeavesTheLabelAlone)
{
	start();
	std::string name = "a." + std::string(100, 'n') + "\b\b.example";
	fake.hostname = name.c_str();
	ipv4("10.77.0.9");
	advance(1);
	answer();
	advance(1);
	EXPECT_EQ(text(1, 22, 37), name.substr(0, 37));
	EXPECT_EQ(text(1, 59, 16), "brc: 10.77.0.255");
	fake.hostname = "\bx";
	ipv4("10.77.0.8");
	advance(1);
	answer();
	advance(1);
	EXPECT_EQ(text(1, 22, 37), "^Hx" + std::string(34, ' '));
	EXPECT_EQ(text(1, 59, 16), "brc: 10.77.0.255");
}

TEST_F(Sampler, TheLabelFollowsTheFlagsAndThePeer)
{
	fake.flags = IFF_UP | IFF_LOOPBACK;
	start();
	EXPECT_EQ(text(1, 59, 20), "brc:                ");

	fake.flags = IFF_UP | IFF_POINTOPOINT;
	advance(1);
	EXPECT_EQ(text(1, 59, 20), "dst: 10.78.0.2      ");
	/* a tun without a peer: no address of its own after "dst:" */
	inet_pton(AF_INET, "10.77.0.1", &fake.dst);
	advance(1);
	EXPECT_EQ(text(1, 59, 20), std::string(20, ' '));
	/* neither flag (a WireGuard link), or no such address to give (FreeBSD's EINVAL, as the platform says it) */
	fake.flags = IFF_UP;
	advance(1);
	EXPECT_EQ(text(1, 59, 20), std::string(20, ' '));
	fake.flags = IFF_UP | IFF_BROADCAST;
	fake.addr_errno = EADDRNOTAVAIL;
	advance(1);
	EXPECT_EQ(text(1, 59, 20), "brc:                ");
}

TEST_F(Sampler, WithoutIPv4TheCountersStillAndAnIPv6AddressOrADash)
{
	fake.conf_len -= 32;	/* vt0's IPv4 entry */
	fake_entry("vt0", AF_INET6, 28, "fe80::1");
	fake_entry("vt0", AF_INET6, 28, "2001:db8::1");
	start();
	EXPECT_EQ(text(1, 6, 53), "fe80::1" + std::string(46, ' '));
	EXPECT_EQ(fake.lookups, 0);	/* no name look-up for it */
	fake.rows[3].ibytes += 7;
	advance(1);
	EXPECT_EQ(text(5, 70, 2), "7 ");

	/* the IPv6 address goes too: a dash, and the counters go on */
	fake.conf_len -= 2 * 44;
	fake.rows[3].ibytes += 5;
	advance(1);
	EXPECT_EQ(text(1, 5, 3), " - ");
	EXPECT_EQ(text(5, 70, 2), "5 ");
}

TEST_F(Sampler, ConfigurationOnlyWhenTheKernelSaysSo)
{
	int p[2];
	ASSERT_EQ(pipe(p), 0);
	fake.watch_fd = p[0];
	start();
	ipv4("10.77.0.9");
	advance(1);
	EXPECT_EQ(text(1, 6, 10), "10.77.0.1 ");	/* nothing announced: not asked */
	fake.notice = 1;
	if_notice("vt0");
	if_update("vt0");
	EXPECT_EQ(text(1, 6, 10), "10.77.0.9 ");	/* at once, off the grid */
	/* a row that shows a change no announcement told of: the configuration at once */
	ipv4("10.77.0.10");
	fake.rows[3].reread = true;
	advance(1);
	EXPECT_EQ(text(1, 6, 10), "10.77.0.10");
	/* a record started again under the same row: no phantom change */
	fake.rows[3].reread = false;
	fake.rows[3].changes = 0;
	st.chg_count = 5;
	advance(1);
	EXPECT_EQ(text(2, 44, 5), "     ");
	close(p[0]);
	close(p[1]);
}

TEST_F(Sampler, InterfaceThatVanishesAndComesBack)
{
	start();
	fake.rows[3].ibytes += 7;
	advance(1);
	EXPECT_EQ(text(5, 70, 2), "7 ");

	/* gone: a dash, and the window keeps its last figures */
	int len = fake.conf_len;
	fake.conf_len -= 36 + 32;
	fake.rows[3] = if_row{};
	advance(1);
	EXPECT_EQ(text(1, 5, 3), " - ");
	EXPECT_EQ(text(5, 70, 2), "7 ");

	/* made again under a new index, with fresh counters */
	fake.conf_len = len;
	fake.ifcount = 6;
	set_row(6, "vt0", 10, 1);
	advance(1);
	EXPECT_EQ(st.mib_row, 6);
	EXPECT_EQ(text(1, 6, 10), "10.77.0.1 ");
	fake.rows[6].ibytes += 3;
	advance(1);
	EXPECT_EQ(text(5, 70, 9), "3        ");
	EXPECT_EQ(text(3, 12, 3), "13 ");
}

TEST_F(Sampler, DeletedBetweenListAndRequestIsNoError)
{
	start();
	fake.rows[3].ibytes += 7;
	advance(1);
	fake.request_errno = ENODEV;
	fake.rows[3].ibytes += 100;
	advance(1);
	fake.request_errno = EADDRNOTAVAIL;
	advance(1);
	fake.request_errno = 0;
	advance(1);
	EXPECT_EQ(text(5, 70, 4), "0   ");
	EXPECT_EQ(text(3, 12, 4), "5107");
}

using SamplerDeathTest = Sampler;

TEST_F(SamplerDeathTest, OtherRequestFailuresEndTheProcess)
{
	start();
	fake.request_errno = EIO;
	EXPECT_EXIT(advance(1), ::testing::ExitedWithCode(1), "^FLAGS: Input/output error\n$");
}

TEST_F(Sampler, NotFoundLeavesTheTemplateAlone)
{
	start("nope0");
	EXPECT_EQ(st.cur_ifr, nullptr);
	EXPECT_EQ(st.mib_row, 0);
	advance(1, "nope0");
	EXPECT_EQ(text(1, 5, 3), " - ");
	EXPECT_EQ(text(3, 12, 1), " ");
}

/* A resize repaints what was shown, without a sample off the grid. */
TEST_F(Sampler, RedrawShowsTheFiguresLastShown)
{
	start();
	fake.rows[3].ibytes += 7;
	advance(1);
	werase(st.upper_win);
	redraw_fields();
	EXPECT_EQ(text(1, 6, 10), "10.77.0.1 ");
	EXPECT_EQ(text(5, 70, 2), "7 ");
}

}
