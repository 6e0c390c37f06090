/*
 * Linked into the sanitizer build of ravlet only.  ncurses keeps the
 * screen it was making when newterm fails (an unknown terminal type): its
 * leak, not ours, and reported on the standard error that the starter of a
 * background start reads for ravlet's own message.
 */
extern "C" const char *__lsan_default_suppressions()
{
	return "leak:new_prescr\n";
}

extern "C" const char *__lsan_default_options()
{
	return "print_suppressions=0";
}
