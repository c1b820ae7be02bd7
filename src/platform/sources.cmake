# Files of this subsystem, added to the program's core library.
