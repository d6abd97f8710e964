// A shared object has no entry function: the loader runs the library's static constructors,
// which is all the start-up the library needs on POSIX systems, and no thread notifications
// exist to be turned off. This file keeps the two backends' file lists alike.
