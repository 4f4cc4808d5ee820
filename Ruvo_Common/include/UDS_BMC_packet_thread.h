// Local socket packet server: one thread that serves up to 100 local clients
// on a Unix-domain stream socket. Clients send BMC::Packet requests (byte
// image framing of BMC_data_protocol_read_write.h); each request goes to the
// host program's packet handler and, when it carries the response-require
// flag, the handler's response goes back on the same connection. Broadcast
// packets queued by the host go out to every client as soon as they are
// queued. On each connection packets go out in the order the server made
// them, so broadcasts come between exchanges. Handlers run on the server
// thread: a slow handler delays every client.
//
// The thread sleeps until a client or the host gives it work; no client can
// hold it. Every socket is non-blocking: a request is gathered as its bytes
// come and handled once whole, and it must be whole within 100 ms of its
// first byte, else the client is dropped (logged as a failed read).
// Responses and broadcasts that a client's socket cannot take at once wait
// in that client's send queue, which holds at most 256 packets: a client
// that lets it fill is not reading, and is dropped with one log line ("send
// queue full, client dropped"). When the process or the system runs out of
// descriptors the server stops accepting until a client leaves or 100 ms
// have passed (one log line for the whole episode).
//
// Calling order: init_UDS_BMC_Packet_Thread, then from any thread any number
// of set_UDS_BMC_Broadcast_Packet / get_UDS_BMC_Packet_Thread_Start_Flag,
// then set_UDS_BMC_Packet_Thread_Stop; the server may be started again after
// a stop. Start and stop are meant for one controlling thread, never for a
// handler (the stop joins the server thread). A signal caught on the server
// thread interrupts its wait, which is logged as an epoll_wait() error: host
// programs that catch signals block them before the start (the thread
// inherits the mask). Stop the server before the program ends: the
// broadcast queue is a static object destroyed at exit.
//
// Failures are logged on standard output with printf. A client that vanishes
// makes the server's write fail with EPIPE only when the host program ignores
// SIGPIPE (otherwise the signal ends the process): host programs ignore it.
#pragma once

#include <cstdint>

#include "BMC_data_protocol.h"

// Longest socket path accepted (sockaddr_un::sun_path minus its NUL).
const unsigned int uds_socket_path_max_length = 107;

// Request handler, run on the server thread. request is the packet just read;
// response is an all-zero record for the handler to fill with the codec.
// Returns 0 on success, anything else on failure. The server frees whatever
// data the handler put into the response.
typedef int (*UDS_BMC_Packet_Handler)(const BMC::Packet& request, BMC::Packet* response);

// Optional, run on the server thread right after a failed request handler,
// with the same response record and the code 1. It may fill the response;
// its result is ignored. The connection is closed once the event is done.
typedef int (*UDS_BMC_Packet_Receive_Error_Handler)(BMC::Packet* response, uint8_t code);

// Starts the server on socket_path and returns once it serves. The socket is
// bound first; a path already in use is taken over only when it is a socket
// nobody listens on (connecting is refused: the file of a server that
// ended). A regular file, another server's live socket or anything else at
// the path is left as it is, and the start fails with one "bind() error"
// line.
// Returns 0 started; 1 refused: packet_handler null, socket_path null, empty
// or longer than uds_socket_path_max_length, the server already running, the
// thread could not be created, or the thread's set-up failed (logged by the
// thread; every descriptor it had opened is closed again).
int init_UDS_BMC_Packet_Thread(UDS_BMC_Packet_Handler packet_handler,
                               UDS_BMC_Packet_Receive_Error_Handler packet_receive_error_handler,
                               const char* socket_path);

// Stops the server and returns once its thread has ended: the listening
// socket, the epoll instance and every client connection are closed. Returns
// at once when the server is not serving. Broadcasts not yet sent stay queued
// until the next start, which frees them unsent. The socket file stays.
void set_UDS_BMC_Packet_Thread_Stop();

// True while the server is serving.
bool get_UDS_BMC_Packet_Thread_Start_Flag();

// Queues a heap copy of packet for every client, carrying the broadcast flag
// and packet's node id. The caller keeps its packet.
// Returns 0 queued (the copy belongs to the server); otherwise the queue's
// code, logged: 1 the queue is full (200 pending) or was never set up (no
// start yet), 2 taking its lock failed (copy freed in both cases), 4 and
// above releasing its lock failed after the entry was handled.
uint8_t set_UDS_BMC_Broadcast_Packet(const BMC::Packet& packet);
