/* libpelda.so as the board offers it to modload: a library with no
 * functions that modload uses. */
