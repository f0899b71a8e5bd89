// HttpClient.Send, a framework method in a precompiled (ReadyToRun) assembly, against
// a one-request HTTP server on the loopback interface.
using System;
using System.IO;
using System.Net;
using System.Net.Http;
using System.Net.Sockets;
using System.Text;
using System.Threading;

namespace Nimbrel.Samples
{
    public static class Http
    {
        public static void Run()
        {
            var listener = new TcpListener(IPAddress.Loopback, 0);
            listener.Start();
            int port = ((IPEndPoint)listener.LocalEndpoint).Port;
            var server = new Thread(() => Serve(listener));
            server.Start();

            using var client = new HttpClient();
            using var request = new HttpRequestMessage(HttpMethod.Get, "http://127.0.0.1:" + port + "/traced/path");
            using HttpResponseMessage response = client.Send(request);
            using var reader = new StreamReader(response.Content.ReadAsStream());
            Console.WriteLine("status: " + (int)response.StatusCode);
            Console.WriteLine("body: " + reader.ReadToEnd());
            server.Join();
            listener.Stop();
        }

        private static void Serve(TcpListener listener)
        {
            using TcpClient connection = listener.AcceptTcpClient();
            using NetworkStream stream = connection.GetStream();
            var request = new StringBuilder();
            var buffer = new byte[1024];
            while (!request.ToString().Contains("\r\n\r\n"))
            {
                int read = stream.Read(buffer, 0, buffer.Length);
                if (read == 0) break;
                request.Append(Encoding.ASCII.GetString(buffer, 0, read));
            }
            string firstLine = request.ToString().Split("\r\n")[0];
            byte[] body = Encoding.ASCII.GetBytes("served " + firstLine);
            byte[] head = Encoding.ASCII.GetBytes("HTTP/1.1 200 OK\r\nContent-Length: " + body.Length + "\r\nConnection: close\r\n\r\n");
            stream.Write(head, 0, head.Length);
            stream.Write(body, 0, body.Length);
        }
    }
}
