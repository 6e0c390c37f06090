#include "platform/rtmsg.h"

#include <algorithm>
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
		m->addrs = field<int32_t>(buf, IFM_ADDRS_AT);
		m->sa = buf + IFM_SIZE;
		m->sa_len = msglen - IFM_SIZE;
		m->data = buf + IFM_DATA_AT;
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

/* An interface's name and counters from its interface message. */
static void list_link(const rt_msg &m, if_entry *e)
{
	size_t salen;
	const unsigned char *sdl = rt_addr(m, RT_AX_IFP, &salen);
	auto counter = [&](size_t at) { return field<uint64_t>(m.data, at); };

	*e = if_entry{};
	e->index = m.index;
	e->row.flags = m.flags;
	if (sdl && salen > SDL_DATA_AT) {
		size_t n = std::min({static_cast<size_t>(sdl[SDL_NLEN_AT]), salen - SDL_DATA_AT,
				     IFNAME_SIZE - 1});
		memcpy(e->row.name, sdl + SDL_DATA_AT, n);
	}
	e->row.ipackets = counter(IFD_IPACKETS_AT);
	e->row.ierrors = counter(IFD_IERRORS_AT);
	e->row.opackets = counter(IFD_OPACKETS_AT);
	e->row.oerrors = counter(IFD_OERRORS_AT);
	e->row.collisions = counter(IFD_COLLISIONS_AT);
	e->row.ibytes = counter(IFD_IBYTES_AT);
	e->row.obytes = counter(IFD_OBYTES_AT);
	e->row.imcasts = counter(IFD_IMCASTS_AT);
	e->row.omcasts = counter(IFD_OMCASTS_AT);
	e->row.idrops = counter(IFD_IQDROPS_AT);
	e->row.odrops = counter(IFD_OQDROPS_AT);
}

int rt_list(const unsigned char *buf, size_t len, if_entry *out, int max)
{
	int n = 0;
	rt_msg m;

	for (size_t off = 0, k; (k = rt_next(buf + off, len - off, &m)) != 0; off += k) {
		if (m.type == RT_IFINFO && n < max) {
			list_link(m, &out[n++]);
			continue;
		}
		size_t salen;
		const unsigned char *sa = m.type == RT_NEWADDR ? rt_addr(m, RT_AX_IFA, &salen) : nullptr;
		if (!sa || sa[1] != 2 || salen < 8)	/* AF_INET: the address in bytes 4..7 */
			continue;
		/* its interface's message came just before it */
		for (int i = n - 1; i >= 0; i--) {
			if (out[i].index != m.index)
				continue;
			if (!out[i].have_addr) {
				memcpy(&out[i].addr, sa + 4, 4);
				out[i].have_addr = true;
			}
			break;
		}
	}
	return n;
}
