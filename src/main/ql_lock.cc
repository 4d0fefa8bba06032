// Lock lands here.
