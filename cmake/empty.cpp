// Compiled into header-only areas so that each area is an ordinary library.
