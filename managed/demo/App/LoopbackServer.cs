// A minimal HTTP server on the loopback interface: answers every request with the same
// text until disposed.
using System;
using System.Net;
using System.Net.Sockets;
using System.Text;
using System.Threading;

namespace dotnetcore_console_app
{
    public sealed class LoopbackServer : IDisposable
    {
        private readonly TcpListener listener = new TcpListener(IPAddress.Loopback, 0);
        private readonly Thread thread;
        private readonly byte[] response;

        public LoopbackServer(string body)
        {
            byte[] content = Encoding.UTF8.GetBytes(body);
            response = Encoding.ASCII.GetBytes("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                                               content.Length + "\r\nConnection: close\r\n\r\n" + body);
            listener.Start();
            Url = "http://127.0.0.1:" + ((IPEndPoint)listener.LocalEndpoint).Port + "/";
            thread = new Thread(Serve) { IsBackground = true };
            thread.Start();
        }

        public string Url { get; }

        private void Serve()
        {
            try
            {
                while (true)
                {
                    using TcpClient client = listener.AcceptTcpClient();
                    using NetworkStream stream = client.GetStream();
                    var request = new StringBuilder();
                    var buffer = new byte[1024];
                    while (!request.ToString().Contains("\r\n\r\n"))
                    {
                        int read = stream.Read(buffer, 0, buffer.Length);
                        if (read == 0) break;
                        request.Append(Encoding.ASCII.GetString(buffer, 0, read));
                    }
                    stream.Write(response, 0, response.Length);
                }
            }
            catch (SocketException)
            {
                // Stop() ends the accept loop.
            }
        }

        public void Dispose() => listener.Stop();
    }
}
