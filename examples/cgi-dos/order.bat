@echo off
rem Order form handler for the demo server: confirms the item ordered.
echo Content-Type: text/html
echo.
echo ^<html^>^<head^>^<title^>Order received^</title^>^</head^>^<body^>
echo ^<h1^>Order received^</h1^>^<p^>We will confirm by post within two working days.^</p^>
echo ^<p^>^<a href="/"^>Home^</a^>^</p^>^</body^>^</html^>
