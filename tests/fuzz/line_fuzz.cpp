/*
 * The capture pane's line path on bytes that strangers choose (packet
 * contents, host names): the pieces of the pipe's data, whether each is
 * shown, and the shortened, visible line.  First byte: the width; up to the
 * first newline: the host name; the rest: what the pipe delivered.  Every
 * shown line must fit its width and hold no byte that moves the cursor.
 */
#include <clocale>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "capture/capture.h"
#include "screen/screen.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	/* multibyte characters and their widths, as a UTF-8 console has them */
	setlocale(LC_CTYPE, "C.UTF-8");
	return 0;
}

static void check_shown(const char *out, int cols)
{
	size_t n = strnlen(out, SHOWN_SIZE);

	if (n == SHOWN_SIZE)
		__builtin_trap();
	for (size_t i = 0; i < n; i++) {
		unsigned char c = out[i];
		if (c < 0x20 || c == 0x7f)
			__builtin_trap();
	}
	/* never wider than the screen less one column, measured as the screen would */
	int most = cols > 1 ? cols - 1 : 0;
	char again[SHOWN_SIZE];
	if (visible_text(std::string_view(out, n), INT32_MAX, again, sizeof again) > most)
		__builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size < 1)
		return 0;
	int cols = 1 + data[0] * 5;	/* 1 to 1276 columns: wider than the line buffer too */
	std::string_view rest(reinterpret_cast<const char *>(data + 1), size - 1);
	size_t nl = rest.find('\n');
	std::string_view host = nl == std::string_view::npos ? std::string_view() : rest.substr(0, nl);
	std::string_view pipe = nl == std::string_view::npos ? rest : rest.substr(nl + 1);

	bool in_long_line = false;
	char out[SHOWN_SIZE];
	for (bool eof : {false, true}) {
		size_t off = 0, k;
		while ((k = next_piece(pipe.data() + off, pipe.size() - off, eof)) != 0) {
			if (k > LINE_SIZE - 1 || off + k > pipe.size())
				__builtin_trap();
			std::string_view piece = pipe.substr(off, k);
			bool shown = piece_shown(piece, &in_long_line);
			if (filter_line(piece, host, cols, out)) {
				check_shown(out, cols);
			} else if (shown) {
				__builtin_trap();	/* a piece to show that the filter drops */
			}
			off += k;
		}
	}
	return 0;
}
