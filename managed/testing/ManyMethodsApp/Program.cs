// Calls every generated method once and prints the sum.
public static class Program
{
    public static int Main()
    {
        System.Console.WriteLine("sum: " + ManyMethods.All.Run());
        return 0;
    }
}
