// The hub of the launcher's talk with the outside: the output's flushes, the
// supervisors (supervisor.h) and the listeners (listener.h). The launcher
// opens each supervisor and listener that its environment or command line
// names and adds it here, at startup; from then on the run loop reaches
// them only through these functions, at its safe points. None of them waits
// inside a frame, and on a frame where nothing is due, Service_FrameDone
// costs a clock read at most.
#ifndef TARN_SERVICE_SERVICE_H
#define TARN_SERVICE_SERVICE_H

class ISupervisor;
class IListener;

// Each drives what it is given from the next frame on, until Service_Close;
// false when the table is full or there is nothing to add.
bool Service_AddSupervisor(ISupervisor* supervisor);
bool Service_AddListener(IListener* listener);
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
