/* Routing messages laid out byte by byte as FreeBSD 14 sends them. */
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

/* A message of size bytes with its header filled in. */
bytes message(size_t size, int type, int version = RT_VERSION)
{
	bytes b(size);
	put<uint16_t>(b, RT_MSGLEN_AT, size);
	b[RT_VERSION_AT] = version;
	b[RT_TYPE_AT] = type;
	return b;
}

bytes announce(int index, const char *name, int what)
{
	bytes b = message(IFAN_SIZE, RT_IFANNOUNCE);
	put<uint16_t>(b, IFAN_INDEX_AT, index);
	memcpy(b.data() + IFAN_NAME_AT, name, strlen(name));
	put<uint16_t>(b, IFAN_WHAT_AT, what);
	return b;
}

/* An address message: the header, then each socket address padded to 8 bytes. */
bytes address(int type, int index, int mask, const std::vector<bytes> &sas)
{
	bytes b = message(IFAM_SIZE, type);
	put<int32_t>(b, IFAM_ADDRS_AT, mask);
	put<uint16_t>(b, IFAM_INDEX_AT, index);
	for (const bytes &sa : sas) {
		b.insert(b.end(), sa.begin(), sa.end());
		b.resize(b.size() + (sa.empty() ? 8 : (8 - sa.size() % 8) % 8));
	}
	put<uint16_t>(b, RT_MSGLEN_AT, b.size());
	return b;
}

bytes sockaddr(int len, int family, unsigned char tag)
{
	bytes sa(len, tag);
	sa[0] = len;
	sa[1] = family;
	return sa;
}

constexpr int BSD_INET = 2, BSD_LINK = 18, BSD_INET6 = 28;
constexpr int BIT = 1;

TEST(RoutingMessages, AnnouncementsOfTwentyFourBytes)
{
	rt_msg m;
	bytes a = announce(7, "em0", RT_ARRIVAL);

	ASSERT_EQ(rt_next(a.data(), a.size(), &m), 24u);
	EXPECT_EQ(m.type, RT_IFANNOUNCE);
	EXPECT_EQ(m.index, 7);
	EXPECT_STREQ(m.name, "em0");
	/* while ours is missing, an arrival under its name is ours; a prefix is not */
	EXPECT_TRUE(rt_concerns(m, 0, "em0"));
	EXPECT_FALSE(rt_concerns(m, 0, "em"));
	EXPECT_FALSE(rt_concerns(m, 3, "em0"));	/* ours is there: another's arrival */

	bytes d = announce(3, "em0", RT_DEPARTURE);
	rt_next(d.data(), d.size(), &m);
	EXPECT_TRUE(rt_concerns(m, 3, "em0"));
	EXPECT_FALSE(rt_concerns(m, 0, "em0"));	/* a departure never brings ours back */
	d = announce(4, "em1", RT_DEPARTURE);
	rt_next(d.data(), d.size(), &m);
	EXPECT_FALSE(rt_concerns(m, 3, "em0"));

	/* a name of all sixteen bytes stays terminated */
	a = announce(7, "abcdefghijklmnop", RT_ARRIVAL);
	rt_next(a.data(), a.size(), &m);
	EXPECT_STREQ(m.name, "abcdefghijklmno");
}

TEST(RoutingMessages, AnnouncedAddressWithFourAddresses)
{
	/* netmask (7 bytes), link (20), the address, the broadcast: as the kernel announces one */
	bytes ifa = sockaddr(16, BSD_INET, 0xa5), brd = sockaddr(16, BSD_INET, 0xbb);
	bytes msg = address(RT_NEWADDR, 3, BIT << RT_AX_NETMASK | BIT << RT_AX_IFP |
				BIT << RT_AX_IFA | BIT << RT_AX_BRD,
			    {sockaddr(7, BSD_INET, 0xff), sockaddr(20, BSD_LINK, 0), ifa, brd});
	rt_msg m;
	size_t len = 0;

	ASSERT_EQ(rt_next(msg.data(), msg.size(), &m), IFAM_SIZE + 8 + 24 + 16 + 16);
	EXPECT_EQ(m.type, RT_NEWADDR);
	EXPECT_TRUE(rt_concerns(m, 3, "em0"));
	EXPECT_FALSE(rt_concerns(m, 4, "em0"));
	const unsigned char *sa = rt_addr(m, RT_AX_IFA, &len);
	ASSERT_NE(sa, nullptr);
	EXPECT_EQ(sa - msg.data(), static_cast<long>(IFAM_SIZE + 8 + 24));
	EXPECT_EQ(len, 16u);
	EXPECT_EQ(sa[5], 0xa5);
	sa = rt_addr(m, RT_AX_BRD, &len);
	ASSERT_NE(sa, nullptr);
	EXPECT_EQ(sa[5], 0xbb);
	EXPECT_EQ(rt_addr(m, 1, &len), nullptr);	/* not in the mask */

	/* the same, cut inside the broadcast address: the message is no whole one */
	EXPECT_EQ(rt_next(msg.data(), msg.size() - 4, &m), 0u);
	/* a length that claims the broadcast address runs past the message */
	msg[IFAM_SIZE + 8 + 24 + 16] = 40;
	rt_next(msg.data(), msg.size(), &m);
	EXPECT_EQ(rt_addr(m, RT_AX_BRD, &len), nullptr);
	EXPECT_NE(rt_addr(m, RT_AX_IFA, &len), nullptr);
}

TEST(RoutingMessages, ListedAddressesWalkedInOrder)
{
	/*
	 * The interface list for IPv6: a link-local and a global address, each
	 * with three addresses (an empty netmask still takes eight bytes),
	 * behind a message of another version and a message of a type that is
	 * let go.
	 */
	bytes ll = sockaddr(28, BSD_INET6, 0xfe), gl = sockaddr(28, BSD_INET6, 0x20);
	int mask = BIT << RT_AX_NETMASK | BIT << RT_AX_IFA | BIT << RT_AX_BRD;
	bytes list = message(IFM_SIZE, RT_IFINFO, 4);
	for (const bytes &b : {message(92, 1), address(RT_NEWADDR, 2, mask, {bytes(), ll, bytes()}),
			       address(RT_NEWADDR, 2, mask, {sockaddr(28, BSD_INET6, 0xff), gl, bytes()})})
		list.insert(list.end(), b.begin(), b.end());

	std::vector<int> tags;
	rt_msg m;
	size_t k, len, msgs = 0;
	for (size_t off = 0; (k = rt_next(list.data() + off, list.size() - off, &m)) != 0; off += k) {
		msgs++;
		if (const unsigned char *sa = rt_addr(m, RT_AX_IFA, &len))
			tags.push_back(sa[len - 1]);
	}
	EXPECT_EQ(msgs, 4u);
	EXPECT_EQ(tags, (std::vector<int>{0xfe, 0x20}));

	/* the first message alone is of version 4: stepped over, nothing taken from it */
	ASSERT_EQ(rt_next(list.data(), list.size(), &m), IFM_SIZE);
	EXPECT_EQ(m.type, 0);
}

TEST(RoutingMessages, InterfaceStateAndShortOrBrokenMessages)
{
	bytes info = message(IFM_SIZE, RT_IFINFO);
	put<uint32_t>(info, IFM_FLAGS_AT, 0x8843);
	put<uint16_t>(info, IFM_INDEX_AT, 5);
	put<int64_t>(info, IFM_CHANGE_AT, 1765000000);
	put<int64_t>(info, IFM_CHANGE_AT + 8, 250000);
	rt_msg m;

	ASSERT_EQ(rt_next(info.data(), info.size(), &m), IFM_SIZE);
	EXPECT_EQ(m.type, RT_IFINFO);
	EXPECT_EQ(m.flags, 0x8843u);
	EXPECT_EQ(m.index, 5);
	EXPECT_EQ(m.change_s, 1765000000);
	EXPECT_EQ(m.change_us, 250000);
	EXPECT_TRUE(rt_concerns(m, 5, "em0"));
	EXPECT_FALSE(rt_concerns(m, 0, "em0"));

	/* shorter than its type's header: stepped over, not read */
	bytes shrt = message(IFM_SIZE - 8, RT_IFINFO);
	EXPECT_EQ(rt_next(shrt.data(), shrt.size(), &m), IFM_SIZE - 8);
	EXPECT_EQ(m.type, 0);
	shrt = message(IFAN_SIZE - 2, RT_IFANNOUNCE);
	EXPECT_EQ(rt_next(shrt.data(), shrt.size(), &m), IFAN_SIZE - 2);
	EXPECT_EQ(m.type, 0);
	/* lengths that cannot be: below the header, beyond the buffer */
	bytes bad = message(IFAN_SIZE, RT_IFANNOUNCE);
	put<uint16_t>(bad, RT_MSGLEN_AT, 2);
	EXPECT_EQ(rt_next(bad.data(), bad.size(), &m), 0u);
	EXPECT_EQ(rt_next(info.data(), 100, &m), 0u);
	EXPECT_EQ(rt_next(info.data(), 3, &m), 0u);
}

}	// namespace
