#include "platform/rtmsg.h"

#include <cstring>

template <typename T> static T field(const unsigned char *msg, size_t at)
{
	T v;

	memcpy(&v, msg + at, sizeof v);
	return v;
}

size_t rt_next(const unsigned char *buf, size_t len, rt_msg *m)
{
	*m = rt_msg{};
	if (len < RT_HEAD_SIZE)
		return 0;
	size_t msglen = field<uint16_t>(buf, RT_MSGLEN_AT);
	if (msglen < RT_HEAD_SIZE || msglen > len)
		return 0;
	if (buf[RT_VERSION_AT] != RT_VERSION)
		return msglen;

	int type = buf[RT_TYPE_AT];
	switch (type) {
	case RT_IFINFO:
		if (msglen < IFM_SIZE)
			return msglen;
		m->flags = field<uint32_t>(buf, IFM_FLAGS_AT);
		m->index = field<uint16_t>(buf, IFM_INDEX_AT);
		m->change_s = field<int64_t>(buf, IFM_CHANGE_AT);
		m->change_us = field<int64_t>(buf, IFM_CHANGE_AT + 8);
		break;
	case RT_NEWADDR:
	case RT_DELADDR:
		if (msglen < IFAM_SIZE)
			return msglen;
		m->addrs = field<int32_t>(buf, IFAM_ADDRS_AT);
		m->index = field<uint16_t>(buf, IFAM_INDEX_AT);
		m->sa = buf + IFAM_SIZE;
		m->sa_len = msglen - IFAM_SIZE;
		break;
	case RT_IFANNOUNCE:
		if (msglen < IFAN_SIZE)
			return msglen;
		m->index = field<uint16_t>(buf, IFAN_INDEX_AT);
		memcpy(m->name, buf + IFAN_NAME_AT, IFNAME_SIZE - 1);
		m->what = field<uint16_t>(buf, IFAN_WHAT_AT);
		break;
	default:
		return msglen;
	}
	m->type = type;
	return msglen;
}

const unsigned char *rt_addr(const rt_msg &m, int ax, size_t *len)
{
	const unsigned char *p = m.sa, *end = m.sa + m.sa_len;

	for (int i = 0; i < RT_AX_MAX && i <= ax; i++) {
		if (!(m.addrs & (1 << i)))
			continue;
		if (p >= end)
			return nullptr;
		size_t salen = p[0];
		if (i == ax) {
			/* a length, a family and something behind them, all inside the message */
			if (salen < 2 || salen > static_cast<size_t>(end - p))
				return nullptr;
			*len = salen;
			return p;
		}
		size_t room = salen ? 1 + ((salen - 1) | (RT_SA_ALIGN - 1)) : RT_SA_ALIGN;
		if (room > static_cast<size_t>(end - p))
			return nullptr;
		p += room;
	}
	return nullptr;
}

bool rt_concerns(const rt_msg &m, int index, const char *ifname)
{
	switch (m.type) {
	case RT_IFINFO:
	case RT_NEWADDR:
	case RT_DELADDR:
		return index > 0 && m.index == index;
	case RT_IFANNOUNCE:
		/* only while ours is missing can another take its name */
		return (index > 0 && m.index == index) ||
		       (index == 0 && m.what == RT_ARRIVAL &&
			strncmp(m.name, ifname, IFNAME_SIZE) == 0);
	default:
		return false;
	}
}
