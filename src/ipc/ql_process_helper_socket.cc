// Socket lands here.
