// The launcher's talk with the outside: its output, and the supervisors
// with their sockets. The run loop calls only these functions, at its safe
// points; none of them waits inside a frame, and on a frame where nothing is
// due, Service_FrameDone costs a clock read at most.
//
// Something new that talks to the outside is driven from here: a supervisor
// gets an entry in the table of service.cpp, a listener registers itself
// with Service_AddListener (listener.h) when its switch is given.
#ifndef TARN_SERVICE_SERVICE_H
#define TARN_SERVICE_SERVICE_H

// Reads the environment once, at startup, and opens what it names.
void Service_Open();
// The first frame of an engine start has run.
void Service_Started();
// A frame completed: queued output goes out, and what is due is done.
void Service_FrameDone();
// The next line that a listener's peer sent for the engine, in arrival
// order, or null; valid until the next call.
const char* Service_NextLine();
// The engine stopped and is about to be started again.
void Service_Restarting();
// The engine quit or a stop was requested: the supervisors are told.
void Service_Stopping();
// The process ends next: everything opened is closed, and the output that
// still waits drains for a bounded time.
void Service_Close();

#endif
