/* The floor an idle second is held to: wake once a second from select() on the terminal. */
#include <sys/select.h>

int main(void)
{
	for (;;) {
		fd_set readable;
		struct timeval second = {1, 0};

		FD_ZERO(&readable);
		FD_SET(0, &readable);
		if (select(1, &readable, 0, 0, &second) > 0)
			return 0;	/* a key: done */
	}
}
