// JSON document tree lands here.
