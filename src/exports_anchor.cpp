// The shared library is made of the layer archives; this unit only gives it a source of its own.
