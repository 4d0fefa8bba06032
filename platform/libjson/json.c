/* Stand-in C JSON library lands here. */
