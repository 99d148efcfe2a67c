"""An nginx of a bench's own on 127.0.0.1: its own prefix, sendfile on, no
access log."""
import os
import socket
import subprocess
import sys
import time

NGINX_START_SECONDS = 10


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_nginx(prefix, root, port):
    os.makedirs(os.path.join(prefix, "logs"), exist_ok=True)
    os.makedirs(os.path.join(prefix, "tmp"), exist_ok=True)
    conf = os.path.join(prefix, "nginx.conf")
    with open(conf, "w") as f:
        f.write(f"""daemon off;
worker_processes 1;
pid {prefix}/nginx.pid;
error_log {prefix}/logs/error.log;
events {{ worker_connections 64; }}
http {{
  default_type application/octet-stream;
  access_log off;
  sendfile on;
  client_body_temp_path {prefix}/tmp;
  proxy_temp_path {prefix}/tmp;
  fastcgi_temp_path {prefix}/tmp;
  uwsgi_temp_path {prefix}/tmp;
  scgi_temp_path {prefix}/tmp;
  server {{ listen 127.0.0.1:{port}; root {root}; }}
}}
""")
    proc = subprocess.Popen(["nginx", "-p", prefix, "-c", conf, "-e", f"{prefix}/logs/error.log"])
    deadline = time.time() + NGINX_START_SECONDS
    while time.time() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return proc
        except OSError:
            time.sleep(0.1)
    proc.terminate()
    proc.wait()
    sys.exit("nginx did not start")
