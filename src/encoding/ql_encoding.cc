// Encoding utilities land here.
