import socket, sys, time, subprocess, struct
exe = sys.argv[1]
p = subprocess.Popen([exe, "--port", "/tmp/gwm/line", "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE, text=True)
port = int(p.stdout.readline().strip().split(":")[1])
def rss():
    for l in open(f"/proc/{p.pid}/status"):
        if l.startswith("VmRSS"): return int(l.split()[1])
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096); s.connect(("127.0.0.1", port)); s.setblocking(False)
req = struct.pack(">HHHBBHH", 1, 0, 6, 1, 4, 0, 9) * 340
sent = 0; t0 = time.time(); r0 = rss(); samples=[]
while time.time() - t0 < 8:
    try: sent += s.send(req)
    except BlockingIOError: time.sleep(0.001)
    except OSError as e: print("closed", e); break
    if int((time.time()-t0)*2) > len(samples): samples.append(rss())
print("sent", sent//12, "rss start", r0, "samples", samples)
p.terminate()
