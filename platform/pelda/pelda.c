/* Intentionally empty: modload only needs the library to be linked. */
