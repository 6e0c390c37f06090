#pragma once
/* The capture child and the filter that turns its lines into lines of the lower window. */
#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <string_view>

int mpopen(const char *ifname, const char *expr);
void watch_child(pid_t pid);
void watcher_gone();	/* its socket is readable: reap it, start another */
void reap_capture(const char *ifname);
void capture_follow(const char *ifname, const char *expr);
void capture_switch(const char *ifname, const char *expr);	/* on another interface */
int64_t capture_next_due();	/* the monotonic time a new start is due */
void read_capture(const char *ifname);
void read_capture_errors();	/* its messages' pipe is readable */

/* Pure helpers. */
constexpr size_t LINE_SIZE = 1024;	/* one line, as the filter sees it */
constexpr size_t SHOWN_SIZE = 2 * LINE_SIZE;	/* its visible form: ^X takes two bytes */
size_t next_piece(const char *data, size_t len, bool eof);
bool piece_shown(std::string_view piece, bool *in_long_line);
bool filter_line(std::string_view line, std::string_view host, int cols, char out[SHOWN_SIZE]);
void end_note(std::string_view why, int cols, char out[SHOWN_SIZE]);
/* The last line that is not empty, as the text comes in pieces; a long one cut. */
struct last_line {
	char text[LINE_SIZE];
	size_t len;
	bool done;	/* its line end came: the next text begins another */
};
void keep_last_line(last_line *l, std::string_view data);
