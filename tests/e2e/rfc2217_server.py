"""An RFC 2217 access server for the end-to-end tests: pyserial's PortManager
over the serial device argv[1], serving one connection on 127.0.0.1:argv[2].
Prints LISTEN when it accepts connections."""
import socket
import sys
import threading

import serial
import serial.rfc2217


class Connection:
    def __init__(self, sock):
        self.sock = sock
        self.lock = threading.Lock()

    def write(self, data):
        with self.lock:
            self.sock.sendall(data)


def main():
    port = serial.Serial(sys.argv[1], baudrate=9600, timeout=0.05)
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", int(sys.argv[2])))
    server.listen(1)
    print("LISTEN", flush=True)
    sock, _ = server.accept()
    connection = Connection(sock)
    manager = serial.rfc2217.PortManager(port, connection)
    # A pseudo-terminal has no modem lines to report.
    manager.check_modem_lines = lambda force_notification=False: None

    def network_to_serial():
        while True:
            data = sock.recv(65536)
            if not data:
                break
            port.write(b"".join(manager.filter(data)))

    threading.Thread(target=network_to_serial, daemon=True).start()
    while True:
        data = port.read(65536)
        if data:
            connection.write(b"".join(manager.escape(data)))


if __name__ == "__main__":
    main()
