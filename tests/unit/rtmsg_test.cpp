/*
 * Routing messages laid out byte by byte as FreeBSD 14 (amd64) sends them.
 * Every offset and size here is a number from FreeBSD's own structures,
 * never one of the walk's constants, so a wrong constant fails:
 * rt_msghdr's head (msglen 0, version 2 = 5, type 3); if_msghdr 168 bytes
 * (flags 8, index 12, if_data 16, ifi_lastchange 152); ifa_msghdr 20 (addrs
 * 4, index 12); if_announcemsghdr 24 (index 4, name 6, what 22).
 */
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

#include "platform/rtmsg.h"

namespace {

using bytes = std::vector<unsigned char>;

template <typename T> void put(bytes &b, size_t at, T v)
{
	memcpy(b.data() + at, &v, sizeof v);
}

/* A message head: its length, version 5, the type. */
bytes message(size_t size, int type, int version = 5)
{
	bytes b(size);
	put<uint16_t>(b, 0, size);
	b[2] = version;
	b[3] = type;
	return b;
}

constexpr int NEWADDR = 0xc, IFINFO = 0xe, IFANNOUNCE = 0x11;
constexpr int BSD_INET = 2, BSD_LINK = 18, BSD_INET6 = 28;
/* the bits of the address mask: netmask, the interface's link address, the address, broadcast */
constexpr int NETMASK = 1 << 2, IFP = 1 << 4, IFA = 1 << 5, BRD = 1 << 7;

bytes announce(int index, const char *name, int what)
{
	bytes b = message(24, IFANNOUNCE);
	put<uint16_t>(b, 4, index);
	memcpy(b.data() + 6, name, strlen(name));
	put<uint16_t>(b, 22, what);
	return b;
}

/* A socket address of len bytes, its last byte tag; a length of 0 is an empty slot. */
bytes sockaddr(int len, int family, unsigned char tag)
{
	bytes sa(len, tag);
	if (len > 0) {
		sa[0] = len;
		sa[1] = family;
	}
	return sa;
}

/* The addresses behind a head of head bytes, each padded to 8 (an empty one takes 8). */
bytes with_addresses(bytes b, const std::vector<bytes> &sas, size_t total = 0)
{
	for (const bytes &sa : sas) {
		b.insert(b.end(), sa.begin(), sa.end());
		b.resize(b.size() + (sa.empty() ? 8 : (8 - sa.size() % 8) % 8));
	}
	if (total)
		b.resize(total);	/* a listed message is padded at its end */
	put<uint16_t>(b, 0, b.size());
	return b;
}

bytes address(int index, int mask, const std::vector<bytes> &sas, size_t total = 0)
{
	bytes b = message(20, NEWADDR);
	put<int32_t>(b, 4, mask);
	put<uint16_t>(b, 12, index);
	return with_addresses(b, sas, total);
}

/* An interface's state; in a list, its link address behind it. */
bytes info(int index, unsigned flags, int64_t s, int64_t us, const std::vector<bytes> &sas = {})
{
	bytes b = message(168, IFINFO);
	put<int32_t>(b, 4, sas.empty() ? 0 : IFP);
	put<uint32_t>(b, 8, flags);
	put<uint16_t>(b, 12, index);
	put<int64_t>(b, 152, s);
	put<int64_t>(b, 160, us);
	return with_addresses(b, sas);
}

TEST(RoutingMessages, AnnouncementsOfTwentyFourBytes)
{
	rt_msg m;
	bytes a = announce(7, "em0", 0);

	ASSERT_EQ(rt_next(a.data(), a.size(), &m), 24u);
	EXPECT_EQ(m.type, IFANNOUNCE);
	EXPECT_EQ(m.index, 7);
	EXPECT_STREQ(m.name, "em0");
	EXPECT_EQ(m.what, RT_ARRIVAL);
	/* while ours is missing, an arrival under its name is ours; a prefix is not */
	EXPECT_TRUE(rt_concerns(m, 0, "em0"));
	EXPECT_FALSE(rt_concerns(m, 0, "em"));
	EXPECT_FALSE(rt_concerns(m, 3, "em0"));	/* ours is there: another's arrival */

	bytes d = announce(3, "em0", 1);
	rt_next(d.data(), d.size(), &m);
	EXPECT_EQ(m.what, RT_DEPARTURE);
	EXPECT_TRUE(rt_concerns(m, 3, "em0"));
	EXPECT_FALSE(rt_concerns(m, 0, "em0"));	/* a departure never brings ours back */
	d = announce(4, "em1", 1);
	rt_next(d.data(), d.size(), &m);
	EXPECT_FALSE(rt_concerns(m, 3, "em0"));

	/* a name of all sixteen bytes stays terminated */
	a = announce(7, "abcdefghijklmnop", 0);
	rt_next(a.data(), a.size(), &m);
	EXPECT_STREQ(m.name, "abcdefghijklmno");
}

TEST(RoutingMessages, AnnouncedAddressWithItsLinkAddress)
{
	/* netmask 16 at 20, link address 56 at 36, the address 16 at 92, broadcast 16 at 108 */
	bytes msg = address(3, NETMASK | IFP | IFA | BRD,
			    {sockaddr(16, BSD_INET, 0xff), sockaddr(56, BSD_LINK, 0x11),
			     sockaddr(16, BSD_INET, 0xa5), sockaddr(16, BSD_INET, 0xbb)});
	rt_msg m;
	size_t len = 0;

	ASSERT_EQ(msg.size(), 124u);
	ASSERT_EQ(rt_next(msg.data(), msg.size(), &m), 124u);
	EXPECT_EQ(m.type, NEWADDR);
	EXPECT_TRUE(rt_concerns(m, 3, "em0"));
	EXPECT_FALSE(rt_concerns(m, 4, "em0"));
	const unsigned char *sa = rt_addr(m, 5, &len);
	ASSERT_NE(sa, nullptr);
	EXPECT_EQ(sa - msg.data(), 92);
	EXPECT_EQ(len, 16u);
	sa = rt_addr(m, 7, &len);
	ASSERT_NE(sa, nullptr);
	EXPECT_EQ(sa - msg.data(), 108);
	EXPECT_EQ(sa[15], 0xbb);
	EXPECT_EQ(rt_addr(m, 4, &len) - msg.data(), 36);
	EXPECT_EQ(len, 56u);
	EXPECT_EQ(rt_addr(m, 1, &len), nullptr);	/* not in the mask */

	/* cut inside the broadcast address: no whole message */
	EXPECT_EQ(rt_next(msg.data(), msg.size() - 4, &m), 0u);
	/* a broadcast address whose length runs past the message */
	msg[108] = 40;
	rt_next(msg.data(), msg.size(), &m);
	EXPECT_EQ(rt_addr(m, 7, &len), nullptr);
	EXPECT_NE(rt_addr(m, 5, &len), nullptr);
}

TEST(RoutingMessages, TheInterfaceListAsTheSysctlReturnsIt)
{
	/*
	 * NET_RT_IFLIST for IPv6 of one interface: its own message with its
	 * link address (224 bytes), a link-local and a global address (88
	 * bytes each: 20, netmask 28 at 20, the address 28 at 52, padded at
	 * the end), behind a message of another version; then lo0's IPv4
	 * address, whose broadcast slot is empty (8 bytes of nothing).
	 */
	bytes list = info(2, 0x8843, 1765000000, 250000, {sockaddr(56, BSD_LINK, 0x22)});
	ASSERT_EQ(list.size(), 224u);
	bytes other = message(92, IFINFO, 4);
	bytes ll = address(2, NETMASK | IFA, {sockaddr(28, BSD_INET6, 0xff), sockaddr(28, BSD_INET6, 0xfe)}, 88);
	bytes gl = address(2, NETMASK | IFA, {sockaddr(28, BSD_INET6, 0xff), sockaddr(28, BSD_INET6, 0x20)}, 88);
	bytes lo = address(1, NETMASK | IFA | BRD, {sockaddr(16, BSD_INET, 0xff), sockaddr(16, BSD_INET, 0x7f),
						     sockaddr(0, 0, 0)});
	ASSERT_EQ(lo.size(), 60u);
	for (const bytes *b : {&other, &ll, &gl, &lo})
		list.insert(list.end(), b->begin(), b->end());

	std::vector<long> at;
	std::vector<int> tags;
	rt_msg m;
	size_t k, len, off, msgs = 0;
	for (off = 0; (k = rt_next(list.data() + off, list.size() - off, &m)) != 0; off += k) {
		msgs++;
		if (m.type == NEWADDR && m.index == 2) {
			const unsigned char *sa = rt_addr(m, 5, &len);
			ASSERT_NE(sa, nullptr);
			at.push_back(sa - list.data());
			tags.push_back(sa[len - 1]);
		}
	}
	EXPECT_EQ(msgs, 5u);
	EXPECT_EQ(off, list.size());
	EXPECT_EQ(at, (std::vector<long>{224 + 92 + 52, 224 + 92 + 88 + 52}));
	EXPECT_EQ(tags, (std::vector<int>{0xfe, 0x20}));

	/* the interface's own message: its state, and the link address at 168 */
	ASSERT_EQ(rt_next(list.data(), list.size(), &m), 224u);
	EXPECT_EQ(m.type, IFINFO);
	EXPECT_EQ(m.index, 2);
	EXPECT_EQ(m.flags, 0x8843u);
	EXPECT_EQ(m.change_s, 1765000000);
	EXPECT_EQ(m.change_us, 250000);
	/* another version: stepped over, nothing taken from it */
	EXPECT_EQ(rt_next(list.data() + 224, list.size() - 224, &m), 92u);
	EXPECT_EQ(m.type, 0);
	/* lo0: the address at 36, and an empty broadcast slot is no address */
	size_t lo_at = 224 + 92 + 88 + 88;
	rt_next(list.data() + lo_at, list.size() - lo_at, &m);
	EXPECT_EQ(rt_addr(m, 5, &len) - list.data(), static_cast<long>(lo_at + 36));
	EXPECT_EQ(rt_addr(m, 7, &len), nullptr);
}

/* A sockaddr_dl of 24 bytes naming an interface: name length at 5, the name at 8. */
bytes link_address(int index, const char *name)
{
	bytes sa = sockaddr(24, BSD_LINK, 0);
	put<uint16_t>(sa, 2, index);
	sa[5] = strlen(name);
	memcpy(sa.data() + 8, name, strlen(name));
	return sa;
}

TEST(RoutingMessages, EveryInterfaceFromTheIPv4List)
{
	/* if_data at 16: ipackets 24, opackets 40, ibytes 64, obytes 72, iqdrops 96, oqdrops 104 */
	bytes em0 = info(1, 0x8843, 0, 0, {link_address(1, "em0")});
	put<uint64_t>(em0, 16 + 24, 11);
	put<uint64_t>(em0, 16 + 40, 22);
	put<uint64_t>(em0, 16 + 64, 1000);
	put<uint64_t>(em0, 16 + 72, 2000);
	put<uint64_t>(em0, 16 + 96, 3);
	put<uint64_t>(em0, 16 + 104, 4);
	bytes a1 = address(1, NETMASK | IFA, {sockaddr(16, BSD_INET, 0xff), sockaddr(16, BSD_INET, 0)});
	a1[20 + 16 + 4] = 10, a1[20 + 16 + 7] = 1;
	bytes a2 = a1;
	a2[20 + 16 + 7] = 2;	/* its second address: not the first */
	bytes tap = info(7, 0x8802, 0, 0, {link_address(7, "tap7")});
	bytes list = em0;
	for (const bytes *b : {&a1, &a2, &tap})
		list.insert(list.end(), b->begin(), b->end());

	if_entry e[4];
	ASSERT_EQ(rt_list(list.data(), list.size(), e, 4), 2);
	EXPECT_EQ(e[0].index, 1);
	EXPECT_STREQ(e[0].row.name, "em0");
	EXPECT_EQ(e[0].row.flags, 0x8843u);
	EXPECT_EQ(e[0].row.ipackets, 11u);
	EXPECT_EQ(e[0].row.opackets, 22u);
	EXPECT_EQ(e[0].row.ibytes, 1000u);
	EXPECT_EQ(e[0].row.obytes, 2000u);
	EXPECT_EQ(e[0].row.idrops, 3u);
	EXPECT_EQ(e[0].row.odrops, 4u);
	ASSERT_TRUE(e[0].have_addr);
	EXPECT_EQ(memcmp(&e[0].addr, "\x0a\x00\x00\x01", 4), 0);
	EXPECT_STREQ(e[1].row.name, "tap7");
	EXPECT_FALSE(e[1].have_addr);
	/* no room for the second: the first alone */
	EXPECT_EQ(rt_list(list.data(), list.size(), e, 1), 1);
}

TEST(RoutingMessages, ShortOrBrokenMessages)
{
	rt_msg m;
	bytes state = info(5, 0x8843, 1, 2);

	ASSERT_EQ(rt_next(state.data(), state.size(), &m), 168u);
	EXPECT_TRUE(rt_concerns(m, 5, "em0"));
	EXPECT_FALSE(rt_concerns(m, 0, "em0"));
	/* shorter than its type's head: stepped over, not read */
	bytes shrt = message(160, IFINFO);
	EXPECT_EQ(rt_next(shrt.data(), shrt.size(), &m), 160u);
	EXPECT_EQ(m.type, 0);
	shrt = message(22, IFANNOUNCE);
	EXPECT_EQ(rt_next(shrt.data(), shrt.size(), &m), 22u);
	EXPECT_EQ(m.type, 0);
	/* lengths that cannot be: below the head, beyond the buffer */
	bytes bad = message(24, IFANNOUNCE);
	put<uint16_t>(bad, 0, 2);
	EXPECT_EQ(rt_next(bad.data(), bad.size(), &m), 0u);
	EXPECT_EQ(rt_next(state.data(), 100, &m), 0u);
	EXPECT_EQ(rt_next(state.data(), 3, &m), 0u);
}

}	// namespace
