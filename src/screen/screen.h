#pragma once
/* The curses screen: the two windows with their template, the keys and the menu. */
#include <cstddef>

constexpr int UPPER_ROWS = 10;
constexpr int MIN_COLS = 80;
constexpr int MIN_LINES = 24;
constexpr size_t TITLE_SIZE = 512;

void screen_init(const char *ifname);
void handle_key();
void command_menu();

/* Pure helpers: the title bars, filled with "-" to the width (at most TITLE_SIZE - 1). */
bool title_line(char *buf, const char *ifname, int cols);
void capture_title(char *buf, int cols);
