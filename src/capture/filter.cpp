#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "capture/capture.h"
#include "main/main.h"
#include "screen/screen.h"

/* One wake-up reads at most this many pipe buffers before keys get a turn. */
constexpr int MAX_FILLS = 16;

/*
 * The next line in data, with its line end; a longer line comes in pieces
 * of LINE_SIZE - 1 bytes.  0 while the line is incomplete: it waits for the
 * rest, unless the program has ended.
 */
size_t next_piece(const char *data, size_t len, bool eof)
{
	size_t most = std::min(len, LINE_SIZE - 1);
	const void *nl = memchr(data, '\n', most);

	if (nl)
		return static_cast<const char *>(nl) - data + 1;
	if (most == LINE_SIZE - 1 || eof)
		return most;
	return 0;
}

/* Lines the capture program prints about packets begin with HH:MM:SS. */
static bool has_stamp(std::string_view line)
{
	return line.size() >= 6 && line[2] == ':' && line[5] == ':';
}

static void remove_at(char *s, size_t *len, size_t at, size_t n)
{
	memmove(s + at, s + at + n, *len - at - n);
	*len -= n;
}

static void remove_first(char *s, size_t *len, std::string_view pat)
{
	size_t at = std::string_view(s, *len).find(pat);

	if (!pat.empty() && at != std::string_view::npos)
		remove_at(s, len, at, pat.size());
}

static bool name_char(char c)
{
	return isalnum(static_cast<unsigned char>(c)) || c == '-';
}

/* The first place where the host's name stands whole: web1, not the start of web10. */
static void remove_name(char *s, size_t *len, std::string_view name)
{
	std::string_view line(s, *len);

	if (name.empty())
		return;
	for (size_t at = line.find(name); at != std::string_view::npos;
	     at = line.find(name, at + 1)) {
		size_t end = at + name.size();
		if ((at == 0 || !name_char(line[at - 1])) && (end == line.size() || !name_char(line[end]))) {
			remove_at(s, len, at, name.size());
			return;
		}
	}
}

/*
 * Whether a piece is shown: the first piece of a line, with a time stamp.
 * The later pieces of a long line are never lines of their own: whoever
 * sends a packet shapes its text, and could make a piece look like another
 * packet's line.  *in_long_line says whether the next piece continues one.
 */
bool piece_shown(std::string_view piece, bool *in_long_line)
{
	bool first = !*in_long_line;

	*in_long_line = piece.empty() || piece.back() != '\n';
	return first && has_stamp(piece);
}

/*
 * The shortened line: without the fraction of the second, the monitored
 * host's own name and the checksum remarks, cut at the line end, in its
 * visible form and cut to the width in screen columns.  False for a line
 * that is not shown.
 */
bool filter_line(std::string_view in, std::string_view host, int cols, char out[SHOWN_SIZE])
{
	char line[LINE_SIZE];

	if (!has_stamp(in))
		return false;
	in = in.substr(0, LINE_SIZE - 1);

	/* HH:MM:SS.ffffff: drop indexes 8..14 */
	size_t n = std::min<size_t>(in.size(), 8);
	memcpy(line, in.data(), n);
	if (in.size() > 15) {
		memcpy(line + n, in.data() + 15, in.size() - 15);
		n += in.size() - 15;
	}
	remove_name(line, &n, host);
	remove_first(line, &n, " [tcp sum ok]");
	remove_first(line, &n, " [udp sum ok]");
	if (const void *nl = memchr(line, '\n', n))
		n = static_cast<const char *>(nl) - line;
	visible_text(std::string_view(line, n), cols > 1 ? cols - 1 : 0, out, SHOWN_SIZE);
	return true;
}

void keep_last_line(last_line *l, std::string_view data)
{
	for (char c : data) {
		if (c == '\n') {
			l->done = l->len > 0;
			continue;
		}
		if (l->done) {
			l->len = 0;
			l->done = false;
		}
		if (l->len < sizeof l->text)
			l->text[l->len++] = c;
	}
}

/*
 * Shows the complete lines in the buffer and keeps the incomplete rest.
 * Of many lines only the last window's worth can be seen, so only those are
 * drawn: the screen ends up the same at a fraction of the cost.
 */
static bool show_pieces(bool eof)
{
	char out[SHOWN_SIZE];
	const char *buf = st.cap_buf;
	size_t len = st.cap_len;
	size_t off, k;
	int shown = 0;
	bool drawn = false;
	bool tail = st.cap_tail;

	for (off = 0; (k = next_piece(buf + off, len - off, eof)) != 0; off += k)
		shown += piece_shown(std::string_view(buf + off, k), &tail);
	/* while the terminal is too small, lines are read and let go */
	int skip = shown - pane_rows();
	for (off = 0; (k = next_piece(buf + off, len - off, eof)) != 0; off += k) {
		std::string_view line(buf + off, k);
		if (!piece_shown(line, &st.cap_tail) || skip-- > 0)
			continue;
		filter_line(line, st.host_pattern, pane_cols(), out);
		pane_line(out);
		drawn = true;
	}
	memmove(st.cap_buf, buf + off, len - off);
	st.cap_len = len - off;
	return drawn;
}

/*
 * Reads what the pipe holds (it never blocks), shows every complete line
 * and refreshes once.  At end of file the descriptor is closed so that the
 * main loop stops watching it.
 */
void read_capture(const char *ifname)
{
	bool eof = false;
	bool drawn = false;

	for (int fills = 0; fills < MAX_FILLS;) {
		ssize_t n = read(st.capture, st.cap_buf + st.cap_len,
				 sizeof st.cap_buf - st.cap_len);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0 && errno == EAGAIN)
			break;
		if (n <= 0) {
			eof = true;
			break;
		}
		st.cap_len += n;
		if (st.cap_len == sizeof st.cap_buf) {
			drawn |= show_pieces(false);
			fills++;
		}
	}
	drawn |= show_pieces(eof);
	if (drawn)
		pane_done();
	if (eof) {
		close(st.capture);
		st.capture = -1;
		reap_capture(ifname);
	}
}
